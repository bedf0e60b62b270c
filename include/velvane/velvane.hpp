// A C++ face for velvane.h: an instance that frees itself, and errors as
// exceptions carrying the status and the instance's message. C++11 or later.
#ifndef VELVANE_VELVANE_HPP
#define VELVANE_VELVANE_HPP

#include <stdexcept>
#include <string>
#include <utility>

#include "velvane/velvane.h"

namespace velvane {

class Error : public std::runtime_error {
public:
    Error(int status, const std::string &message) : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

class Filter {
public:
    explicit Filter(const VelvaneConfig &config)
    {
        char message[256];
        const int status = velvane_open(&filter_, &config, message, sizeof message);
        if (status < 0)
            throw Error(status, message);
    }
    ~Filter() { velvane_close(&filter_); }
    Filter(Filter &&o) noexcept : filter_(o.filter_) { o.filter_ = nullptr; }
    Filter &operator=(Filter &&o) noexcept
    {
        std::swap(filter_, o.filter_);
        return *this;
    }
    Filter(const Filter &) = delete;
    Filter &operator=(const Filter &) = delete;

    // False when the frames waiting must be received first.
    bool send(const VelvaneFrame &frame) { return check(velvane_send_frame(filter_, &frame)); }
    // The end of the clip: the last frames can now be received.
    void end() { check(velvane_send_frame(filter_, nullptr)); }
    // False when more frames must be sent first, or the clip is done.
    bool receive(VelvaneFrame &frame) { return check(velvane_receive_frame(filter_, &frame)); }
    void flush() { check(velvane_flush(filter_)); }
    void setSettings(const VelvaneSettings &s) { check(velvane_set_settings(filter_, &s)); }
    VelvaneFilter *get() const { return filter_; }

private:
    bool check(int status)
    {
        if (status == VELVANE_OK)
            return true;
        if (status == VELVANE_EAGAIN || status == VELVANE_EOF)
            return false;
        throw Error(status, velvane_last_error(filter_));
    }

    VelvaneFilter *filter_ = nullptr;
};

} // namespace velvane

#endif
