#pragma once

#include <QFile>
#include <QString>

#include <atomic>
#include <chrono>
#include <thread>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// A named pipe for a list. Until it is let go, a writer comes and goes every
// few milliseconds: a reader that waits in open() for a writer is let through
// to an empty pipe instead of hanging the test, so that a hang shows as a
// failure.
class Fifo
{
public:
    explicit Fifo(const QString &path) : path_(QFile::encodeName(path))
    {
#ifndef Q_OS_WIN
        made_ = ::mkfifo(path_.constData(), 0600) == 0;
        if (made_)
            writer_ = std::thread([this] {
                while (!done_) {
                    const int fd = ::open(path_.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                    if (fd >= 0)
                        ::close(fd);
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
            });
#endif
    }
    ~Fifo()
    {
        done_ = true;
        if (writer_.joinable())
            writer_.join();
    }
    Fifo(const Fifo &) = delete;
    Fifo &operator=(const Fifo &) = delete;

    // False where the system has no named pipes, or one could not be made.
    bool made() const { return made_; }

private:
    QByteArray path_;
    bool made_ = false;
    std::atomic<bool> done_{false};
    std::thread writer_;
};
