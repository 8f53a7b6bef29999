// --log FILE: what was received and sent, appended as plain text, one entry a
// line, each with its UTC time, mode, carrier and rig frequency.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace rz::dgterm {

struct LogContext {
    std::string mode;
    std::optional<double> carrierHz;
    std::optional<double> dialHz;
};

class Log {
public:
    // Nothing is logged for an empty path.
    explicit Log(const std::string& path);
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // False, with the reason, when the file cannot be opened for appending.
    bool Open(std::string& error);
    // Received text is kept until its line ends, the context changes or the log
    // closes.
    void Received(const std::string& text, const LogContext& context);
    // One over: what the module took to send, and what a stop kept from it.
    void Sent(const std::string& sent, const std::string& unsent, const LogContext& context);

private:
    void FlushReceived();
    void Write(const char* direction, const std::string& text, const LogContext& context);

    std::string m_path;
    std::FILE* m_file = nullptr;
    std::string m_line;
    LogContext m_lineContext;
};

}  // namespace rz::dgterm
