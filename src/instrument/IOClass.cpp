#include "IOClass.h"

#include "NumberText.h"
#include "Replies.h"
#include "StringConverter.h"
#include "visa/Error.h"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace instrument {

namespace {

constexpr std::int32_t kNoLock = 0;
constexpr std::int32_t kOpenTimeoutMs = 5000;
constexpr std::int32_t kIoTimeoutMs = 2000;
constexpr std::int16_t kDataBits = 8;
constexpr double kOverRangeCurrent = 300; // above every full scale the scope draws
constexpr const char* kOcpAdvice = " Release OCP mode by Output on/off key";
constexpr const char* kCurrentsQuery = "I?";
constexpr const char* kNoSession = "No instrument session is open: choose a resource and open it first.";
constexpr std::int32_t kReadCount = 255; // most characters one read may return

// Alarm box backgrounds, 0x00BBGGRR, after the channel the OCP field names.
constexpr std::uint32_t kLightRed = 0x00C0C0FF;   // RGB(255, 192, 192), CH1
constexpr std::uint32_t kLightGreen = 0x00C0FFC0; // RGB(192, 255, 192), CH2
constexpr std::uint32_t kLightCyan = 0x00FFFFC0;  // RGB(192, 255, 255), any other

bool contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

// What a step of an operation failed with, as the failure report shows it.
std::optional<std::string> failureOf(const std::function<void()>& step)
{
    try {
        step();
        return std::nullopt;
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "An unexpected failure occurred while talking to the instrument.";
    }
}

// The instrument's own conversion failures (a reply that is no truth value, a
// missing field, a voltage it cannot take).
[[noreturn]] void failConversion(const std::string& description)
{
    throw std::runtime_error(description);
}

std::string voltageText(double volts)
{
    if (!std::isfinite(volts))
        failConversion("The voltage " + numberText(volts)
                       + " cannot be sent to the instrument: it is not a finite number.");
    return numberText(volts);
}

} // namespace

IOClass::IOClass(Surroundings surroundings) : m_surroundings(std::move(surroundings)), m_openTimeoutMs(kOpenTimeoutMs)
{
    std::string chosenLibraryFailure;
    auto create = [this, &chosenLibraryFailure](const char* name) -> std::unique_ptr<visa::ResourceManager> {
        try {
            return m_surroundings.resourceManagers ? m_surroundings.resourceManagers(name) : nullptr;
        } catch (const visa::ChosenLibraryError& error) {
            chosenLibraryFailure = error.what(); // the library the user named: no falling back
            return nullptr;
        } catch (const std::exception&) {
            return nullptr; // a missing manager only means: try the next one
        }
    };
    m_visa = create("VISA.GlobalRM");
    if (!m_visa && chosenLibraryFailure.empty())
        m_visa = create("AgilentRM.SRMCls");
    if (m_visa) {
        m_bAcMessage = true;
        m_lReadCount = kReadCount;
        return;
    }
    if (bErrorFlag) {
        if (m_surroundings.dialogs)
            m_surroundings.dialogs->showMessage(
                "Error Occurred",
                !chosenLibraryFailure.empty()
                    ? chosenLibraryFailure
                    : "The Global Resource Manager (GRM) or Agilent Vendor Specific Resource Manager (SRM) could not "
                      "be loaded. Please check VISA COM setup.",
                MessageIcon::Exclamation);
        bErrorFlag = false;
    }
    if (m_surroundings.endProgram)
        m_surroundings.endProgram();
}

// --- failure report -------------------------------------------------------

void IOClass::reportFailure(const std::string& description)
{
    if (!bErrorFlag)
        return;
    if (m_heldReport) {
        if (!*m_heldReport)
            *m_heldReport = description;
        return;
    }
    if (m_surroundings.dialogs)
        m_surroundings.dialogs->showMessage("Error", description, MessageIcon::None);
    // Cleared only once the box is dismissed: a failure raised while it is open shows its own box.
    bErrorFlag = false;
}

bool IOClass::runReported(const std::function<void()>& step)
{
    const std::optional<std::string> description = failureOf(step);
    if (!description)
        return true;
    ++m_failures;
    if (m_firstFailure.empty())
        m_firstFailure = *description;
    reportFailure(*description);
    return false;
}

visa::Session& IOClass::session() const
{
    if (!m_Msg)
        throw visa::Error(kNoSession);
    return *m_Msg;
}

// --- session --------------------------------------------------------------

std::optional<std::vector<std::string>> IOClass::VISAFindRes()
{
    if (!m_visa)
        return std::nullopt;
    return m_visa->findRsrc(kSearchExpression);
}

std::int32_t IOClass::GetVISAResType()
{
    return session().hardwareInterfaceType();
}

void IOClass::SetVISAResouce(const std::string& resouce)
{
    m_strResource = resouce;
}

void IOClass::SetBaudRate(std::int32_t lBrate)
{
    m_lBaudRate = lBrate;
}

bool IOClass::VISAOpen()
{
    m_firstFailure.clear();
    const bool opened = runReported([this] {
        if (!m_visa)
            throw visa::Error("No VISA resource manager is loaded, so " + m_strResource + " cannot be opened.");
        auto fresh = m_visa->open(m_strResource, kNoLock, m_openTimeoutMs, "");
        if (!fresh)
            throw visa::Error("The resource manager gave no session for " + m_strResource + ".");
        // The views point into the session they came from; drop them before that session goes.
        m_Gpib = nullptr;
        m_Rs = nullptr;
        // Whatever the flag said belonged to the session being replaced.
        m_bVisaOpened = false;
        m_Msg = std::move(fresh);
        if (m_startQuiet)
            m_Msg->shortenStartQuiet(*m_startQuiet);
        try {
            setUpInterface();
        } catch (...) {
            // Close what we opened so the port is not held locked until the program ends;
            // the set-up failure is the one worth reporting.
            try {
                m_Msg->close();
            } catch (...) {
            }
            throw;
        }
    });
    if (!opened) {
        if (m_surroundings.traffic)
            m_surroundings.traffic->openFailed(m_firstFailure);
        return false;
    }

    m_bVisaOpened = true;
    // A failure of the identity query is shown once the port is free again,
    // so that another program may take it while the box is up.
    std::optional<std::string> heldBack;
    m_heldReport = &heldBack;
    const std::string identity = identityInTurn();
    if (identity.empty())
        runReported([this] { VISAClose(); });
    m_heldReport = nullptr;
    if (!identity.empty()) {
        m_bOpenReported = true;
        if (m_surroundings.traffic)
            m_surroundings.traffic->sessionOpened(m_strResource, trimmedField(identity));
        return true;
    }

    // No failure at all means the instrument answered, but with nothing.
    const std::string emptyAnswer =
        "The instrument at " + m_strResource + " gave an empty answer to the identity query IDN?.";
    reportFailure(heldBack.value_or(emptyAnswer));
    if (m_surroundings.traffic)
        m_surroundings.traffic->openFailed(m_firstFailure.empty() ? emptyAnswer : m_firstFailure);
    return false;
}

void IOClass::adoptSession(std::shared_ptr<visa::Session> session, const std::string& identity)
{
    m_Msg = std::move(session);
    m_Gpib = m_Msg ? m_Msg->gpib() : nullptr;
    m_Rs = m_Msg ? m_Msg->serial() : nullptr;
    m_bVisaOpened = m_Msg != nullptr;
    m_bOpenReported = m_bVisaOpened;
    if (m_bOpenReported && m_surroundings.traffic)
        m_surroundings.traffic->sessionOpened(m_strResource, trimmedField(identity));
}

std::shared_ptr<visa::Session> IOClass::releaseSession()
{
    tellClosed();
    m_Gpib = nullptr;
    m_Rs = nullptr;
    m_bVisaOpened = false;
    return std::exchange(m_Msg, nullptr);
}

void IOClass::setUpInterface()
{
    const std::int32_t type = GetVISAResType();
    if (type == visa::kInterfaceGpib) {
        m_Gpib = m_Msg->gpib();
        if (!m_Gpib)
            throw visa::Error("The session on " + m_strResource + " is GPIB but offers no GPIB settings.");
        m_Gpib->setTimeout(kIoTimeoutMs);
    } else if (type == visa::kInterfaceSerial) {
        SetSerialParam(m_lBaudRate, kDataBits, 1);
    }
}

void IOClass::SetSerialParam(std::int32_t baudRate, std::int32_t dataBits, std::int32_t /*unused*/)
{
    try {
        m_Rs = session().serial();
        if (!m_Rs)
            throw visa::Error("The session on " + m_strResource + " is a serial line but offers no serial settings.");
        m_Rs->setBaudRate(baudRate);
        m_Rs->setDataBits(static_cast<std::int16_t>(dataBits));
        // The further serial setting is the DTR line, asserted: the DC source's RS-232 port
        // answers only a host that asserts DTR and keeps it so while connected. Parity, flow
        // control and end modes stay as they are, since its protocol is plain 8-bit text lines
        // ended by a line feed.
        m_Rs->setDtrAsserted(true);
        m_Msg->setTimeout(kIoTimeoutMs);
    } catch (const std::exception& failure) {
        // Shown whatever bErrorFlag says, and the flag stays as it is: a wrong line setting
        // must never pass silently, even after an earlier failure.
        if (m_surroundings.dialogs)
            m_surroundings.dialogs->showMessage("Error", failure.what(), MessageIcon::None);
    }
}

void IOClass::tellClosed()
{
    // One close for each open the observer heard of, also when a close
    // fails and is tried again.
    if (std::exchange(m_bOpenReported, false) && m_surroundings.traffic)
        m_surroundings.traffic->sessionClosed();
}

void IOClass::VISAClose()
{
    tellClosed();
    // A failed close leaves the flag as it was, so the close can be tried again.
    if (m_bVisaOpened)
        session().close();
    m_bVisaOpened = false;
}

std::string IOClass::SetString(const std::string& str)
{
    const bool sent = runReported([&] { m_vss = session().writeString(str + "\n"); });
    if (sent && m_surroundings.traffic && str.find('?') == std::string::npos)
        m_surroundings.traffic->commandSent(str);
    return {};
}

std::string IOClass::GetString()
{
    std::string reply;
    runReported([&] { reply = session().readString(m_lReadCount); });
    return reply;
}

std::string IOClass::GetID()
{
    SetString("IDN?");
    return GetString();
}

std::string IOClass::identityInTurn()
{
    // The session has dropped what was on the line before this first
    // question (every session starts so), but an answer still on its way
    // from the instrument may come after it.
    const std::string first = GetID();
    if (first.empty() || !answersAnotherQuestion(first))
        return first;
    runReported([this] { session().dropLateReplies(); });
    const std::string second = GetID();
    if (second.empty() || !answersAnotherQuestion(second))
        return second;
    runReported([&] {
        throw visa::Error("The instrument at " + m_strResource + " answers out of turn: it answered IDN? with \""
                          + printableText(first) + "\" and again with \"" + printableText(second)
                          + "\", replies to other questions. Close any other program that talks to it, then open "
                            "it again.");
    });
    return {};
}

// --- command set ----------------------------------------------------------

std::string IOClass::ChannelCommandGenHelper(const std::string& strPrefMsgCommand, std::int32_t lChindx,
                                             const std::string& strSuf)
{
    return strPrefMsgCommand + std::to_string(lChindx) + strSuf;
}

void IOClass::SetValtage(std::int32_t lChindx, double dbValtage)
{
    std::string command;
    if (runReported([&] { command = ChannelCommandGenHelper("VSET", lChindx, " " + voltageText(dbValtage)); }))
        SetString(command);
}

void IOClass::SetValtageChar(std::int32_t lChindx, const std::string& StValtage)
{
    // The text goes out unchanged, but a line end inside it would make the instrument
    // run whatever follows as a command of its own.
    if (runReported([&] {
            if (StValtage.find_first_of("\r\n") != std::string::npos)
                failConversion("The voltage text \"" + printableText(StValtage)
                               + "\" holds a line end and was not sent to the instrument.");
        }))
        SetString(ChannelCommandGenHelper("VSET", lChindx, " " + StValtage));
}

void IOClass::SetValtageCHArray(const BoundedArray<double>& dbValtage)
{
    std::string command;
    const bool built = runReported([&] {
        // One text per index of the array; texts below index 1 stay empty, so an array
        // that starts at 0 sends an empty first value.
        std::vector<std::string> texts(dbValtage.elements.size());
        for (std::int32_t index = 1; index <= dbValtage.upperBound(); ++index) {
            if (index < dbValtage.lowerBound)
                failConversion("Voltage array index out of range: the array starts at index "
                               + std::to_string(dbValtage.lowerBound) + ", the first channel is index 1.");
            const auto slot = static_cast<std::size_t>(index - dbValtage.lowerBound);
            texts[slot] = voltageText(dbValtage.elements[slot]);
        }
        command = "VSET ";
        for (std::size_t slot = 0; slot < texts.size(); ++slot)
            command += (slot == 0 ? "" : ",") + texts[slot];
    });
    if (built)
        SetString(command);
}

void IOClass::Output(bool bOnOFF)
{
    SetString(bOnOFF ? "OUTPut 1" : "OUTPut 0");
}

bool IOClass::GetOutput()
{
    return queryTruthValue("OUTP?");
}

void IOClass::RengeChange(std::int32_t lRangeIndex, std::int32_t /*lChIndex: the instrument ranges CH1 only*/)
{
    SetString(lRangeIndex != 0 ? "RANGeset 1" : "RANGeset 0");
}

void IOClass::RengeChangeCH1(std::int32_t lRangeIndex)
{
    RengeChange(lRangeIndex, 1);
}

bool IOClass::GetRange()
{
    return queryTruthValue("RANG?");
}

void IOClass::SamplingFreqConvert(std::int32_t EnmSampleRateIndex)
{
    SetString(EnmSampleRateIndex == 1 ? "SAMP 1" : "SAMP 0");
}

bool IOClass::GetSampleRate()
{
    return queryTruthValue("SAMP?");
}

void IOClass::Reset()
{
    SetString("*RST");
}

std::string IOClass::GetModel()
{
    return {};
}

std::int32_t IOClass::GetFirmVersion()
{
    return 0;
}

std::monostate IOClass::GetVersionHelper()
{
    return {};
}

void IOClass::SetAcMessage(bool bAcONOFF)
{
    m_bAcMessage = bAcONOFF;
}

bool IOClass::GetAcMessage()
{
    return m_bAcMessage;
}

std::optional<bool> IOClass::readOutput()
{
    return askTruthValue("OUTP?");
}

std::optional<bool> IOClass::readRange()
{
    return askTruthValue("RANG?");
}

std::optional<bool> IOClass::readSampleRate()
{
    return askTruthValue("SAMP?");
}

bool IOClass::queryTruthValue(const std::string& query)
{
    return askTruthValue(query).value_or(false);
}

std::optional<bool> IOClass::askTruthValue(const std::string& query)
{
    const unsigned failuresBefore = m_failures;
    SetString(query);
    const std::string reply = GetString();
    std::optional<bool> value;
    runReported([&] {
        const auto truth = parseTruthValue(reply);
        if (!truth)
            failConversion(reply.empty() ? "The instrument gave no answer to " + query + "."
                                         : "The instrument's answer to " + query + " is not a truth value: \""
                                               + printableText(reply) + "\" (expected 0, 1, true or false).");
        value = *truth;
    });
    // A failed question answers nothing, whatever came back.
    return m_failures == failuresBefore ? value : std::nullopt;
}

// --- readback -------------------------------------------------------------

Readback IOClass::GetCurrentCHArray()
{
    return readThreeFields(kCurrentsQuery, true);
}

Readback IOClass::GetVoltageCHArray()
{
    return readThreeFields("VSET?", false);
}

double IOClass::GetCurrent(std::int32_t lChindx)
{
    SetString(ChannelCommandGenHelper("I", lChindx, "?"));
    return StringConverter::StrToDbl(GetString());
}

Readback IOClass::readThreeFields(const std::string& query, bool watchAlarms)
{
    m_firstFailure.clear();
    SetString(query);
    return parseThreeFields(query, GetString(), watchAlarms);
}

CurrentsExchange IOClass::askCurrents(visa::Session* session)
{
    // As SetString and GetString do it: a failed write still reads.
    CurrentsExchange exchange;
    exchange.writeFailure = failureOf([&] {
        if (!session)
            throw visa::Error(kNoSession);
        exchange.written = session->writeString(kCurrentsQuery + std::string("\n"));
    });
    exchange.readFailure = failureOf([&] {
        if (!session)
            throw visa::Error(kNoSession);
        exchange.reply = session->readString(kReadCount);
    });
    return exchange;
}

std::string IOClass::askIdentity(visa::Session& session)
{
    try {
        session.writeString("IDN?\n");
        return session.readString(kReadCount);
    } catch (const std::exception&) {
        return {};
    }
}

Readback IOClass::takeCurrents(const CurrentsExchange& exchange)
{
    m_firstFailure.clear();
    const auto report = [this](const std::optional<std::string>& failure) {
        return !failure || runReported([&] { throw visa::Error(*failure); });
    };
    if (report(exchange.writeFailure))
        m_vss = exchange.written;
    report(exchange.readFailure);
    return parseThreeFields(kCurrentsQuery, exchange.reply, true);
}

Readback IOClass::parseThreeFields(const std::string& query, const std::string& reply, bool watchAlarms)
{
    std::array<double, 3> values{};
    std::vector<std::string> fields;
    const bool complete = runReported([&] {
        fields = splitReplyFields(reply);
        for (std::size_t channel = 0; channel < values.size(); ++channel) {
            if (channel >= fields.size())
                failConversion(reply.empty()
                                   ? "The instrument gave no answer to " + query + "."
                                   : "The instrument's answer to " + query + " holds " + std::to_string(fields.size())
                                         + " of the three channel values (index out of range): \""
                                         + printableText(reply) + "\".");
            const std::string& field = fields[channel];
            values[channel] = StringConverter::StrToDbl(field);
            if (!watchAlarms)
                continue;
            if (contains(field, "OVER"))
                values[channel] = kOverRangeCurrent;
            else if (contains(field, "OCP"))
                showOcpAlarm(field);
        }
    });
    // Only the current readings (the ones watched for alarms) go to the traffic observer.
    if (watchAlarms && m_surroundings.traffic) {
        if (complete)
            m_surroundings.traffic->currentsRead(
                {trimmedField(fields[0]), trimmedField(fields[1]), trimmedField(fields[2])});
        else
            m_surroundings.traffic->readingFailed(m_firstFailure);
    }
    if (!complete)
        return std::nullopt;
    return values;
}

void IOClass::showOcpAlarm(const std::string& field)
{
    OCP = true;
    const std::uint32_t colour = contains(field, "CH1") ? kLightRed : contains(field, "CH2") ? kLightGreen : kLightCyan;
    if (m_surroundings.alarm)
        m_surroundings.alarm->showAlarm(field + kOcpAdvice, colour);
}

} // namespace instrument
