#include "eventlog/text_log.h"

#include <cstdio>
#include <cstring>

#include "common/calendar.h"
#include "common/handles.h"
#include "loader.h"

namespace swboot {

namespace {

// The text log files of the volume's working directory, one at a time.
class VolumeLogReader : public LogTextReader {
public:
    explicit VolumeLogReader(Files& files) : files_(files) {}
    ~VolumeLogReader() override { close(); }
    bool open(const char* name) override {
        close();
        fd_ = files_.open(name, OPEN_RDONLY, 0);
        return fd_ >= 0;
    }
    long read(uint8_t* buffer, size_t length) override { return files_.read(fd_, buffer, length); }
    void close() override {
        if (fd_ >= 0) {
            files_.close(fd_);
            fd_ = -1;
        }
    }

private:
    Files& files_;
    int fd_ = -1;
};

class VolumeLogWriter : public LogWriter {
public:
    VolumeLogWriter(Files& files, int fd) : files_(files), fd_(fd) {}
    bool write(const char* data, size_t length) override {
        return files_.write(fd_, reinterpret_cast<const uint8_t*>(data), length) == static_cast<long>(length);
    }

private:
    Files& files_;
    int fd_;
};

void fileNameFormat(char* name, const char* format, int generation) {
    std::snprintf(name, LOG_TEXT_NAME_SIZE, format, generation);
}

}  // namespace

int TextLog::log_text_line(int facility, int severity, const char* sourceName, int line, const char* message) {
    // The calendar text from its fifth character: month, day and time of day.
    BrokenDownTime t = brokenDownTime(loader_.p.clock.time());
    char when[32];
    std::snprintf(when, sizeof when, "%s %2d %02d:%02d:%02d", monthAbbreviation(t.month), t.day, t.hour, t.minute,
                  t.second);
    char text[LOG_TEXT_FORMAT_SIZE];
    int n = std::snprintf(text, sizeof text, "<%d> %.15s STK1 BOOT[0x%x]: %s(%d) %d %%%% %s", facility * 8 + severity,
                          when, static_cast<unsigned>(loader_.p.tasks.taskIdSelf()),
                          sourceName != nullptr ? sourceName : "", line, static_cast<int>(sequence_),
                          message != nullptr ? message : "");
    if (n < 0) {
        return LOG_TEXT_NOT_STORED;
    }
    size_t length = static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
    return log_text_store(text, length);
}

int TextLog::log_text_store(const char* text, size_t length) {
    if (text == nullptr || length == 0 || text[0] == '\0' || startupName_[0] == '\0') {
        return LOG_TEXT_NOT_STORED;
    }
    Cpu& cpu = loader_.p.cpu;
    int key = cpu.intLock();
    uint32_t number = sequence_++;
    cpu.intUnlock(key);

    const char* name = number < LOG_TEXT_SLOTS ? startupName_ : operationName_;
    long offset = static_cast<long>(number % LOG_TEXT_SLOTS * LOG_TEXT_SLOT_SIZE);
    Files& files = loader_.p.files;
    FileHandle file(files, files.open(name, OPEN_CREAT | OPEN_WRONLY, LOG_TEXT_FILE_MODE));
    if (!file.isOpen()) {
        return LOG_TEXT_NOT_STORED;
    }
    // The slot: the line (never read past its end), CR, LF, 0, zeros.
    uint8_t slot[LOG_TEXT_SLOT_SIZE] = {};
    size_t kept = strnlen(text, length < LOG_TEXT_LINE_MAX ? length : LOG_TEXT_LINE_MAX);
    std::memcpy(slot, text, kept);
    slot[kept] = '\r';
    slot[kept + 1] = '\n';
    if (!lock_) {
        lock_ = loader_.p.tasks.binarySemaphoreCreate();
    }
    if (lock_) {
        lock_->take();
    }
    if (files.lseek(file.fd(), offset, SEEK_FROM_START) == offset) {
        files.write(file.fd(), slot, sizeof slot);
    }
    if (lock_) {
        lock_->give();
    }
    return LOG_TEXT_OK;
}

int TextLog::log_text_rotate() {
    fileNameFormat(startupName_, LOG_TEXT_STARTUP_FORMAT, 0);
    fileNameFormat(operationName_, LOG_TEXT_OPERATION_FORMAT, 0);
    if (rotated_) {
        return LOG_TEXT_OK;
    }
    rotated_ = true;
    Files& files = loader_.p.files;
    char from[LOG_TEXT_NAME_SIZE];
    char to[LOG_TEXT_NAME_SIZE];
    for (const char* format : {LOG_TEXT_STARTUP_FORMAT, LOG_TEXT_OPERATION_FORMAT}) {
        fileNameFormat(to, format, LOG_TEXT_GENERATIONS - 1);
        files.remove(to);
    }
    for (int generation = LOG_TEXT_GENERATIONS - 2; generation >= 0; --generation) {
        for (const char* format : {LOG_TEXT_STARTUP_FORMAT, LOG_TEXT_OPERATION_FORMAT}) {
            fileNameFormat(from, format, generation);
            fileNameFormat(to, format, generation + 1);
            files.rename(from, to);
        }
    }
    for (const char* name : {startupName_, operationName_}) {
        FileHandle file(files, files.open(name, OPEN_CREAT | OPEN_TRUNC | OPEN_RDWR, LOG_TEXT_FILE_MODE));
        if (!file.isOpen()) {
            return LOG_TEXT_NOT_STORED;
        }
    }
    return LOG_TEXT_OK;
}

int TextLog::log_text_collect(const char* outputName) {
    Files& files = loader_.p.files;
    FileHandle out(files, files.open(outputName, OPEN_CREAT | OPEN_TRUNC | OPEN_WRONLY, LOG_TEXT_FILE_MODE));
    if (!out.isOpen()) {
        return LOG_TEXT_NOT_STORED;
    }
    VolumeLogReader reader(files);
    VolumeLogWriter writer(files, out.fd());
    logTextCollectWrite(reader, writer);
    return LOG_TEXT_OK;
}

int TextLog::log_text_seq_get(uint32_t* place) {
    if (place == nullptr) {
        return LOG_TEXT_NOT_STORED;
    }
    *place = sequence_;
    return LOG_TEXT_OK;
}

void TextLog::log_text_seq_reset() { sequence_ = 0; }

}  // namespace swboot
