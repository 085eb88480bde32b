#include "platform/console.hpp"

#include <cctype>
#include <cstdarg>
#include <vector>

namespace quilbex::platform {

Console::Console(std::FILE* out, std::FILE* err, std::FILE* in) : out_(out), err_(err), in_(in) {}

void Console::out(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out_);
    if (!text.empty()) outLineOpen_ = text.back() != '\n';
}

void Console::outLine(std::string_view text) {
    out(text);
    std::fputc('\n', out_);
    std::fflush(out_);
    outLineOpen_ = false;
}

void Console::flushOut() { std::fflush(out_); }

void Console::endOutLine() {
    if (outLineOpen_) outLine("");
}

void Console::err(std::string_view text) {
    std::fflush(out_);
    std::fwrite(text.data(), 1, text.size(), err_);
}

void Console::errLine(std::string_view text) {
    err(text);
    std::fputc('\n', err_);
    std::fflush(err_);
}

std::string Console::readWord() {
    std::fflush(out_);
    std::string word;
    if (in_ == nullptr) return word;
    int c = std::fgetc(in_);
    while (c != EOF && std::isspace(c)) c = std::fgetc(in_);
    while (c != EOF && !std::isspace(c)) {
        word.push_back(static_cast<char>(c));
        c = std::fgetc(in_);
    }
    return word;
}

std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return text;
}

}  // namespace quilbex::platform
