#define FUSE_USE_VERSION 31

#include "card_fs.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>

namespace cardfs {
namespace {

constexpr const char* kCardPath = "/card";
constexpr const char* kCardName = "card";

// Mounted read-only so the kernel itself refuses writes; fsname and subtype
// make leftover mounts easy to recognise in /proc/mounts.
constexpr const char* kMountOptions = "ro,fsname=quilbex-cardfs,subtype=cardfs";

CardServer& server() {
    return *static_cast<CardServer*>(fuse_get_context()->private_data);
}

bool is_root(const char* path) { return std::strcmp(path, "/") == 0; }
bool is_card(const char* path) { return std::strcmp(path, kCardPath) == 0; }

void describe_card(struct stat* st) {
    const auto size = server().image.size();
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = static_cast<off_t>(size);
    st->st_blocks = static_cast<blkcnt_t>((size + 511) / 512);
}

int card_getattr(const char* path, struct stat* st, fuse_file_info*) {
    std::memset(st, 0, sizeof *st);
    if (is_root(path)) {
        st->st_mode = S_IFDIR | 0555;
        st->st_nlink = 2;
        return 0;
    }
    if (!is_card(path)) {
        return -ENOENT;
    }
    describe_card(st);
    return 0;
}

int card_readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                 fuse_readdir_flags) {
    if (!is_root(path)) {
        return -ENOTDIR;
    }
    for (const char* name : {".", "..", kCardName}) {
        fill(buffer, name, nullptr, 0, fuse_fill_dir_flags{});
    }
    return 0;
}

bool wants_write(int flags) {
    return (flags & O_ACCMODE) != O_RDONLY || (flags & O_TRUNC) != 0;
}

// direct_io keeps every read away from the page cache, so throttling and
// faults apply to every read, not just the first one of each page.
int card_open(const char* path, fuse_file_info* fi) {
    if (!is_card(path)) {
        return -ENOENT;
    }
    if (wants_write(fi->flags)) {
        server().note_refused_open(fi->flags);
        return -EROFS;
    }
    fi->direct_io = 1;
    fi->keep_cache = 0;
    return 0;
}

int card_read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info*) {
    return static_cast<int>(server().serve_read(buffer, size, static_cast<std::uint64_t>(offset)));
}

void* card_init(fuse_conn_info*, fuse_config* config) {
    config->direct_io = 1;
    config->kernel_cache = 0;
    config->auto_cache = 0;
    return fuse_get_context()->private_data;
}

fuse_operations card_operations() {
    fuse_operations ops{};
    ops.getattr = card_getattr;
    ops.readdir = card_readdir;
    ops.open = card_open;
    ops.read = card_read;
    ops.init = card_init;
    return ops;
}

}  // namespace

int run_card_fs(CardServer& server, const std::string& program, const std::string& mountpoint,
                const std::vector<std::string>& fuse_args) {
    std::vector<std::string> args{program, mountpoint, "-o", kMountOptions};
    args.insert(args.end(), fuse_args.begin(), fuse_args.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const fuse_operations ops = card_operations();
    return fuse_main(static_cast<int>(args.size()), argv.data(), &ops, &server);
}

}  // namespace cardfs
