#include "report/report_file.hpp"

#include <cstddef>
#include <span>

#include "platform/output_file.hpp"

namespace quilbex::report {
namespace {

constexpr size_t bufferBytes = 256 * 1024;

// Gathers the page's pieces and writes them a buffer at a time; after the
// first failure it writes nothing more and keeps that failure.
class BufferedPage {
public:
    explicit BufferedPage(platform::OutputFile& file) : file_(file) { buffer_.reserve(bufferBytes); }

    void add(std::string_view text) {
        buffer_ += text;
        if (buffer_.size() >= bufferBytes) drain();
    }
    platform::SystemError finish() {
        drain();
        return error_;
    }

private:
    void drain() {
        if (!error_.any() && !buffer_.empty())
            error_ = file_.write(std::as_bytes(std::span(buffer_.data(), buffer_.size())));
        buffer_.clear();
    }

    platform::OutputFile& file_;
    std::string buffer_;
    platform::SystemError error_;
};

}  // namespace

platform::SystemError saveReportPage(const std::string& path, const ReportInput& input) {
    platform::OutputFile file;
    if (const auto error = file.create(path); error.any()) return error;
    BufferedPage page(file);
    writeReportPage(input, [&](std::string_view text) { page.add(text); });
    auto error = page.finish();
    if (!error.any()) error = file.flush();
    const auto closed = file.close();
    return error.any() ? error : closed;
}

}  // namespace quilbex::report
