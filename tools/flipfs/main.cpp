// quilbex-flipfs: see README.md. A pass-through of STORE with one lie.
#define FUSE_USE_VERSION 31

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Lie {
    std::string store;  // the real folder, without a trailing slash
    std::string name;   // the file whose byte changes
    uint64_t offset = 0;
};

Lie& lie() { return *static_cast<Lie*>(fuse_get_context()->private_data); }

std::string real(const char* path) { return lie().store + path; }

int fail() { return -errno; }

bool isTheFile(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return lie().name == (slash ? slash + 1 : path);
}

int doGetattr(const char* path, struct stat* st, fuse_file_info* fi) {
    const int result = fi ? ::fstat(static_cast<int>(fi->fh), st) : ::lstat(real(path).c_str(), st);
    return result == 0 ? 0 : fail();
}

int doReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    DIR* dir = ::opendir(real(path).c_str());
    if (!dir) return fail();
    while (const dirent* entry = ::readdir(dir)) fill(buffer, entry->d_name, nullptr, 0, fuse_fill_dir_flags{});
    ::closedir(dir);
    return 0;
}

// Every open keeps the kernel's cache of the file: a cached page is never
// asked for again.
int doOpen(const char* path, fuse_file_info* fi) {
    const int fd = ::open(real(path).c_str(), fi->flags & ~O_NOFOLLOW);
    if (fd < 0) return fail();
    fi->fh = static_cast<uint64_t>(fd);
    fi->keep_cache = 1;
    return 0;
}

int doCreate(const char* path, mode_t mode, fuse_file_info* fi) {
    const int fd = ::open(real(path).c_str(), fi->flags, mode);
    if (fd < 0) return fail();
    fi->fh = static_cast<uint64_t>(fd);
    fi->keep_cache = 1;
    return 0;
}

int doRead(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    const ssize_t n = ::pread(static_cast<int>(fi->fh), buffer, size, offset);
    if (n < 0) return fail();
    const auto from = static_cast<uint64_t>(offset);
    if (isTheFile(path) && lie().offset >= from && lie().offset < from + static_cast<uint64_t>(n))
        buffer[lie().offset - from] = static_cast<char>(~buffer[lie().offset - from]);
    return static_cast<int>(n);
}

int doWrite(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    const ssize_t n = ::pwrite(static_cast<int>(fi->fh), buffer, size, offset);
    return n < 0 ? fail() : static_cast<int>(n);
}

int doRelease(const char*, fuse_file_info* fi) {
    ::close(static_cast<int>(fi->fh));
    return 0;
}

int doFsync(const char*, int dataOnly, fuse_file_info* fi) {
    const int fd = static_cast<int>(fi->fh);
    return (dataOnly ? ::fdatasync(fd) : ::fsync(fd)) == 0 ? 0 : fail();
}

int doMkdir(const char* path, mode_t mode) { return ::mkdir(real(path).c_str(), mode) == 0 ? 0 : fail(); }
int doUnlink(const char* path) { return ::unlink(real(path).c_str()) == 0 ? 0 : fail(); }
int doRmdir(const char* path) { return ::rmdir(real(path).c_str()) == 0 ? 0 : fail(); }

int doRename(const char* from, const char* to, unsigned int flags) {
    if (flags != 0) return -EINVAL;
    return ::rename(real(from).c_str(), real(to).c_str()) == 0 ? 0 : fail();
}

int doSymlink(const char* target, const char* path) {
    return ::symlink(target, real(path).c_str()) == 0 ? 0 : fail();
}

int doReadlink(const char* path, char* buffer, size_t size) {
    const ssize_t n = ::readlink(real(path).c_str(), buffer, size - 1);
    if (n < 0) return fail();
    buffer[n] = '\0';
    return 0;
}

int doTruncate(const char* path, off_t size, fuse_file_info* fi) {
    const int result = fi ? ::ftruncate(static_cast<int>(fi->fh), size) : ::truncate(real(path).c_str(), size);
    return result == 0 ? 0 : fail();
}

int doUtimens(const char* path, const timespec times[2], fuse_file_info* fi) {
    const int result = fi ? ::futimens(static_cast<int>(fi->fh), times)
                          : ::utimensat(AT_FDCWD, real(path).c_str(), times, AT_SYMLINK_NOFOLLOW);
    return result == 0 ? 0 : fail();
}

int doChmod(const char* path, mode_t mode, fuse_file_info*) {
    return ::chmod(real(path).c_str(), mode) == 0 ? 0 : fail();
}

int doStatfs(const char*, struct statvfs* st) { return ::statvfs(lie().store.c_str(), st) == 0 ? 0 : fail(); }

void* doInit(fuse_conn_info*, fuse_config* config) {
    config->kernel_cache = 1;  // the cache outlives every open and close
    config->direct_io = 0;
    config->auto_cache = 0;
    config->use_ino = 0;
    return fuse_get_context()->private_data;
}

fuse_operations operations() {
    fuse_operations ops{};
    ops.getattr = doGetattr;
    ops.readdir = doReaddir;
    ops.open = doOpen;
    ops.create = doCreate;
    ops.read = doRead;
    ops.write = doWrite;
    ops.release = doRelease;
    ops.fsync = doFsync;
    ops.mkdir = doMkdir;
    ops.unlink = doUnlink;
    ops.rmdir = doRmdir;
    ops.rename = doRename;
    ops.symlink = doSymlink;
    ops.readlink = doReadlink;
    ops.truncate = doTruncate;
    ops.utimens = doUtimens;
    ops.chmod = doChmod;
    ops.statfs = doStatfs;
    ops.init = doInit;
    return ops;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: quilbex-flipfs STORE MOUNTPOINT NAME OFFSET [-f] [-o OPTS]\n");
        return 2;
    }
    char* end = nullptr;
    Lie served{argv[1], argv[3], std::strtoull(argv[4], &end, 10)};
    if (*end != '\0' || served.store.empty()) {
        std::fprintf(stderr, "quilbex-flipfs: bad store or offset\n");
        return 2;
    }
    if (served.store.size() > 1 && served.store.back() == '/') served.store.pop_back();
    std::vector<char*> args{argv[0], argv[2]};
    static char options[] = "-ofsname=quilbex-flipfs,subtype=flipfs,default_permissions";
    args.push_back(options);
    for (int i = 5; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    const fuse_operations ops = operations();
    return fuse_main(static_cast<int>(args.size() - 1), args.data(), &ops, &served);
}
