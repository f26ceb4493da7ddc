#include "boot/shell.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/calendar.h"
#include "common/handles.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr int LISTING_DEPTH_MAX = 16;

}  // namespace

int Shell::cd(const char* name) {
    Files& files = loader_.p.files;
    if (files.chdir(name) != OK) {
        loader_.io.printf("cd: error = %#x.\n", static_cast<unsigned>(files.errnoGet()));
        return ERROR;
    }
    return OK;
}

void Shell::pwd() {
    char cwd[PATH_MAX_LENGTH + 1] = {};
    if (loader_.p.files.getcwd(cwd, sizeof cwd) != OK) {
        cwd[0] = '\0';
    }
    loader_.io.printf("%s\n", cwd);
}

void Shell::llr(const char* name) { listDirectory(name, 0); }

void Shell::listDirectory(const char* path, int depth) {
    Files& files = loader_.p.files;
    Stdio& io = loader_.io;
    DirectoryHandle dir(files, files.opendir(path));
    if (!dir.isOpen()) {
        io.printf("Can't open \"%s\".\n", path);
        return;
    }
    io.printf("\nListing Directory %s:\n", path);
    std::vector<std::string> subdirectories;
    DirectoryEntry entry;
    while (files.readdir(dir.dir(), entry) == OK) {
        std::string full = std::string(path);
        if (!full.empty() && full.back() != '/') {
            full += '/';
        }
        full += entry.name;
        FileStatus status;
        if (files.stat(full.c_str(), status) != OK) {
            io.printf("?????????? %s\n", entry.name);
            continue;
        }
        bool directory = fileIsDirectory(status);
        BrokenDownTime t = brokenDownTime(status.mtime);
        io.printf("%crwxrwxrwx  1 0       0       %10u %s %2d %04d %02d:%02d %s%s\n", directory ? 'd' : '-',
                  static_cast<unsigned>(status.size), monthAbbreviation(t.month), t.day, t.year, t.hour, t.minute,
                  entry.name, directory ? "/" : "");
        if (directory && std::strcmp(entry.name, ".") != 0 && std::strcmp(entry.name, "..") != 0) {
            subdirectories.push_back(full);
        }
    }
    if (depth >= LISTING_DEPTH_MAX) {
        return;
    }
    for (const std::string& sub : subdirectories) {
        listDirectory(sub.c_str(), depth + 1);
    }
}

}  // namespace swboot
