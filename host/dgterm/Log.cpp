#include "Log.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace rz::dgterm {
namespace {

bool SameContext(const LogContext& a, const LogContext& b)
{
    return a.mode == b.mode && a.carrierHz == b.carrierHz && a.dialHz == b.dialHz;
}

// Control characters become visible where they would break a line.
std::string Printable(const std::string& text)
{
    std::string shown;
    for (char ch : text) {
        if (ch == '\r' || ch == '\n')
            shown += ' ';
        else if (static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F)
            shown += ch;
    }
    return shown;
}

}  // namespace

Log::Log(const std::string& path) : m_path(path) {}

Log::~Log()
{
    FlushReceived();
    if (m_file)
        std::fclose(m_file);
}

bool Log::Open(std::string& error)
{
    if (m_path.empty())
        return true;
    m_file = std::fopen(m_path.c_str(), "a");
    if (!m_file)
        error = "cannot append to the log " + m_path + ": " + std::strerror(errno);
    return m_file != nullptr;
}

void Log::Received(const std::string& text, const LogContext& context)
{
    if (!m_file)
        return;
    if (!m_line.empty() && !SameContext(context, m_lineContext))
        FlushReceived();
    m_lineContext = context;
    for (char ch : text) {
        if (ch == '\n')
            FlushReceived();
        else
            m_line += ch;
    }
}

void Log::Sent(const std::string& sent, const std::string& unsent, const LogContext& context)
{
    if (!sent.empty())
        Write("TX", sent, context);
    if (!unsent.empty())
        Write("TX stopped, not sent", unsent, context);
}

void Log::FlushReceived()
{
    const std::string line = Printable(m_line);
    m_line.clear();
    if (line.find_first_not_of(' ') != std::string::npos)
        Write("RX", line, m_lineContext);
}

void Log::Write(const char* direction, const std::string& text, const LogContext& context)
{
    if (!m_file)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm utc = {};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%SZ", &utc);
    std::string where;
    char number[64];
    if (context.carrierHz) {
        std::snprintf(number, sizeof number, " %.1f Hz", *context.carrierHz);
        where += number;
    }
    if (context.dialHz) {
        std::snprintf(number, sizeof number, " dial %.0f Hz", *context.dialHz);
        where += number;
        if (context.carrierHz) {
            std::snprintf(number, sizeof number, " on air %.0f Hz", *context.dialHz + *context.carrierHz);
            where += number;
        }
    }
    std::fprintf(m_file, "%s %s %s%s: %s\n", stamp, direction, context.mode.c_str(), where.c_str(),
                 Printable(text).c_str());
    std::fflush(m_file);
}

}  // namespace rz::dgterm
