#include "record/Recorder.h"

#include "record/CsvFormat.h"
#include "version/Version.h"

namespace record {

namespace {

// "CH2" from the alarm text "CH2 OCP Release OCP mode ...".
std::string alarmChannel(std::string_view alarmText)
{
    const std::size_t ocp = alarmText.find("OCP");
    std::string_view channel = alarmText.substr(0, ocp);
    while (!channel.empty() && (channel.back() == ' ' || channel.back() == '\t'))
        channel.remove_suffix(1);
    return std::string(channel.empty() ? std::string_view("unknown channel") : channel);
}

} // namespace

Recorder::Recorder(FailureHandler onFailure) : m_onFailure(std::move(onFailure))
{
}

void Recorder::start(const std::string& path, RecordingFile::Existing existing)
{
    stop();
    m_file = std::make_unique<RecordingFile>(path, existing);
    m_began = std::chrono::steady_clock::now();
    write(commentLine(std::string("Vantrel ") + version::kText + " recording"));
    write(commentLine("started " + localTextWithOffset(std::chrono::system_clock::now())));
    if (m_session)
        writeSessionComments();
    write(std::string(kHeaderLine));
}

void Recorder::stop()
{
    if (!m_file)
        return;
    event("recording stopped");
    if (!m_file)
        return; // that last row failed, and the failure has been reported
    m_file->close();
    const std::optional<std::string> failure = m_file->failure();
    m_file.reset();
    if (failure && m_onFailure)
        m_onFailure(*failure);
}

void Recorder::event(std::string_view text)
{
    if (m_file)
        write(rowLine({elapsed(), std::chrono::system_clock::now(), {}, std::string(text)}));
}

void Recorder::rangeShown(std::string_view range)
{
    if (!m_session)
        return;
    m_session->range = range;
    if (m_file)
        write(commentLine("CH1 range: " + m_session->range));
}

void Recorder::alarmShown(std::string_view alarmText)
{
    if (m_alarmRaised)
        return;
    m_alarmRaised = true;
    event("over-current alarm raised: " + alarmChannel(alarmText));
}

void Recorder::alarmReleased()
{
    m_alarmRaised = false;
    event("over-current alarm released");
}

void Recorder::sessionOpened(const std::string& resource, const std::string& identity)
{
    m_session = OpenSession{resource, identity, {}};
    m_alarmRaised = false; // an alarm left at a close is not this session's
    if (!m_file)
        return;
    writeSessionComments();
    event("session opened");
}

void Recorder::sessionClosed()
{
    m_session.reset();
    event("session closed");
}

void Recorder::commandSent(const std::string& command)
{
    event(command);
}

void Recorder::currentsRead(const std::array<std::string, 3>& fields)
{
    if (m_file)
        write(rowLine({elapsed(), std::chrono::system_clock::now(), fields, {}}));
}

void Recorder::readingFailed(const std::string& reason)
{
    event("read failed: " + reason);
}

void Recorder::writeSessionComments()
{
    write(commentLine("resource: " + m_session->resource));
    write(commentLine("identity: " + m_session->identity));
    if (!m_session->range.empty())
        write(commentLine("CH1 range: " + m_session->range));
}

void Recorder::write(const std::string& line)
{
    if (!m_file || m_file->append(line))
        return;
    m_file->close();
    const std::string failure = m_file->failure().value_or("Recording to " + m_file->path() + " stopped.");
    m_file.reset();
    if (m_onFailure)
        m_onFailure(failure);
}

std::chrono::milliseconds Recorder::elapsed() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_began);
}

} // namespace record
