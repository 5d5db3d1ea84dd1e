#include "record/Recorder.h"

#include "instrument/Replies.h"
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

std::chrono::milliseconds since(std::chrono::steady_clock::time_point began, std::chrono::steady_clock::time_point now)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(now - began);
}

} // namespace

Recorder::Recorder(FailureHandler onFailure) : m_onFailure(std::move(onFailure))
{
}

void Recorder::start(const std::string& path, RecordingFile::Existing existing)
{
    stop();
    m_file = std::make_unique<RecordingFile>(path, existing, m_onFailure);
    m_began = Clock::now();
    comment(std::string("Vantrel ") + version::kText + " recording");
    comment("started " + localTextWithOffset(std::chrono::system_clock::now()));
    if (m_session)
        writeSessionComments();
    m_file->append(std::string(kHeaderLine), false);
}

void Recorder::stop()
{
    if (!m_file)
        return;
    if (isRecording())
        event("recording stopped");
    m_file->close();
    std::erase_if(m_stopped, [](const std::unique_ptr<RecordingFile>& file) { return file->closed(); });
    m_stopped.push_back(std::move(m_file));
}

std::optional<std::string> Recorder::finishForExit(std::chrono::milliseconds budget)
{
    const Clock::time_point deadline = Clock::now() + budget;
    stop();
    std::optional<std::string> trouble;
    for (const std::unique_ptr<RecordingFile>& file : m_stopped) {
        std::optional<std::string> failure = file->waitAllWritten(deadline);
        if (!trouble)
            trouble = std::move(failure);
    }
    return trouble;
}

bool Recorder::isRecording() const
{
    return m_file && !m_file->failed();
}

void Recorder::setLiveSink(RowSink* sink)
{
    m_liveSink = sink;
    m_liveBegan.reset();
}

void Recorder::event(std::string_view text)
{
    addRow({}, text);
}

void Recorder::rangeShown(std::string_view range)
{
    if (!m_session)
        return;
    m_session->range = range;
    comment("CH1 range: " + m_session->range);
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
    writeSessionComments();
    event("session opened");
}

void Recorder::sessionClosed()
{
    m_session.reset();
    event("session closed");
}

void Recorder::openFailed(const std::string& reason)
{
    event("open failed: " + reason);
}

void Recorder::commandSent(const std::string& command)
{
    event(command);
}

void Recorder::currentsRead(const std::array<std::string, 3>& fields)
{
    addRow(fields, {});
}

void Recorder::readingFailed(const std::string& reason)
{
    event("read failed: " + reason);
}

void Recorder::addRow(const std::array<std::string, 3>& fields, std::string_view event)
{
    const bool toFile = isRecording();
    if (!toFile && !m_liveSink)
        return;
    const Clock::time_point now = Clock::now();
    Row row{{}, std::chrono::system_clock::now(), {}, instrument::printableText(std::string(event))};
    for (std::size_t channel = 0; channel < fields.size(); ++channel)
        row.fields[channel] = instrument::printableText(fields[channel]);
    if (m_liveSink) {
        if (!m_liveBegan)
            m_liveBegan = now;
        row.elapsed = since(*m_liveBegan, now);
        m_liveSink->row(row);
    }
    if (toFile) {
        row.elapsed = since(m_began, now);
        m_file->append(rowLine(row), true);
    }
}

void Recorder::comment(const std::string& text)
{
    if (m_liveSink)
        m_liveSink->comment(text);
    if (isRecording())
        m_file->append(commentLine(text), false);
}

void Recorder::writeSessionComments()
{
    comment("resource: " + m_session->resource);
    comment("identity: " + m_session->identity);
    if (!m_session->range.empty())
        comment("CH1 range: " + m_session->range);
}

} // namespace record
