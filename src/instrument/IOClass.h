#pragma once

#include "BoundedArray.h"
#include "Readback.h"
#include "Surroundings.h"
#include "visa/ResourceManager.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace instrument {

// One current reading asked by a caller that does not wait for it: the
// question and its answer travel on the I/O thread, and what happened there
// is reported on the UI thread (IOClass::takeCurrents) as GetCurrentCHArray
// would have reported it.
struct CurrentsExchange {
    std::string reply;
    std::int32_t written = 0;
    std::optional<std::string> writeFailure;
    std::optional<std::string> readFailure;
    // The answer came whole: nothing failed and the reply ended its line.
    bool answered() const { return !writeFailure && !readFailure && !reply.empty() && reply.back() == '\n'; }
};

// The instrument object: the resource manager, at most one open session, the
// DC source's command set and the parsing of its replies. Failures are caught
// inside each operation and reported by one rule: only the first failure per
// object is shown (bErrorFlag), the operation returns its default result.
class IOClass {
public:
    // The resources the program lists: GPIB and serial instruments.
    static constexpr const char* kSearchExpression = "(GPIB|ASRL)[0-9][^0]?*INSTR";

    explicit IOClass(Surroundings surroundings);
    IOClass(const IOClass&) = delete;
    IOClass& operator=(const IOClass&) = delete;

    // Public members, readable and assignable by callers.
    bool OCP = false;
    bool bErrorFlag = true;
    std::unique_ptr<visa::ResourceManager> m_visa;
    std::shared_ptr<visa::Session> m_Msg;
    visa::GpibView* m_Gpib = nullptr; // view of m_Msg, set when the last open found GPIB
    visa::SerialView* m_Rs = nullptr; // view of m_Msg, set when the last open found a serial line
    std::int32_t m_vss = 0;
    bool m_bVisaOpened = false;

    // The window never calls GetAcMessage, SetAcMessage, GetCurrent, GetID,
    // GetModel, GetFirmVersion, GetVersionHelper, GetString, Reset,
    // SetValtageChar, SetValtageCHArray and GetVISAResType (and RengeChange,
    // SetString and ChannelCommandGenHelper only from inside this class). They
    // are kept on purpose: together they are the instrument object's whole
    // command set, one operation per instrument command, as the instrument
    // program offers it, and their bytes are checked by the tests.
    std::string ChannelCommandGenHelper(const std::string& strPrefMsgCommand, std::int32_t lChindx,
                                        const std::string& strSuf);
    bool GetAcMessage();
    double GetCurrent(std::int32_t lChindx);
    Readback GetCurrentCHArray();
    Readback GetVoltageCHArray();
    std::int32_t GetFirmVersion();
    std::string GetID();
    std::string GetModel();
    std::monostate GetVersionHelper();
    bool GetOutput();
    bool GetSampleRate();
    bool GetRange();
    std::string GetString();
    void RengeChangeCH1(std::int32_t lRangeIndex);
    void RengeChange(std::int32_t lRangeIndex, std::int32_t lChIndex);
    void Reset();
    void SamplingFreqConvert(std::int32_t EnmSampleRateIndex);
    void SetAcMessage(bool bAcONOFF);
    void Output(bool bOnOFF);
    std::string SetString(const std::string& str);
    void SetValtage(std::int32_t lChindx, double dbValtage);
    void SetValtageChar(std::int32_t lChindx, const std::string& StValtage);
    void SetValtageCHArray(const BoundedArray<double>& dbValtage);
    void SetVISAResouce(const std::string& resouce);
    bool VISAOpen();
    void VISAClose();                                      // failures reach the caller
    std::optional<std::vector<std::string>> VISAFindRes(); // failures reach the caller
    std::int32_t GetVISAResType();                         // failures reach the caller
    void SetBaudRate(std::int32_t lBrate);

    // GetCurrentCHArray in two halves, for the acquisition and the
    // over-current poll, which must not wait: askCurrents runs on the I/O
    // thread and touches nothing but the session; takeCurrents runs on the UI
    // thread and reports, parses, raises alarms and tells the traffic
    // observer exactly as GetCurrentCHArray does.
    static CurrentsExchange askCurrents(visa::Session* session);
    Readback takeCurrents(const CurrentsExchange& exchange);

    // For the reconnect, which opens on the I/O thread with an object of its
    // own and hands the session over (src/unattended).
    const std::string& resourceName() const { return m_strResource; }
    std::int32_t baudRate() const { return m_lBaudRate; }
    // The identity query on a session, from any thread, touching nothing
    // else; empty when it failed or the answer was empty.
    static std::string askIdentity(visa::Session& session);
    // The open timeout VISAOpen gives the resource manager (5000 ms unless set).
    void setOpenTimeoutMs(std::int32_t milliseconds) { m_openTimeoutMs = milliseconds; }
    // VISAOpen opens a line that was lost and is back: its first command
    // waits for this much silence only (visa::Session::shortenStartQuiet).
    void setStartQuiet(std::chrono::milliseconds quiet) { m_startQuiet = quiet; }
    // The settings as GetOutput, GetRange and GetSampleRate ask for them, but
    // nothing when the question failed (those read a failure as false).
    std::optional<bool> readOutput();
    std::optional<bool> readRange();
    std::optional<bool> readSampleRate();
    // Takes over a session another IOClass opened and identified, as a
    // successful VISAOpen leaves it: open, and told to the traffic observer.
    void adoptSession(std::shared_ptr<visa::Session> session, const std::string& identity);
    // Lets go of the session without closing it (the caller closes it where
    // it may wait): closed for this object and for the traffic observer.
    std::shared_ptr<visa::Session> releaseSession();

private:
    void SetSerialParam(std::int32_t baudRate, std::int32_t dataBits, std::int32_t unused);

    // The failure report: shows the description in the "Error" box while
    // bErrorFlag is set, then clears the flag.
    void reportFailure(const std::string& description);
    // Runs one step, reporting any failure it raises; true when it succeeded.
    bool runReported(const std::function<void()>& step);
    // The open session, or a failure naming that none is open.
    visa::Session& session() const;
    void setUpInterface();
    void tellClosed();
    // The identity query of an open, which must get the identity: an answer
    // meant for an earlier question (another program's, later than its
    // timeout) is dropped with whatever follows it until the line is quiet,
    // and the question asked once more; empty after a failure (reported).
    std::string identityInTurn();
    bool queryTruthValue(const std::string& query);
    std::optional<bool> askTruthValue(const std::string& query);
    Readback readThreeFields(const std::string& query, bool watchAlarms);
    Readback parseThreeFields(const std::string& query, const std::string& reply, bool watchAlarms);
    void showOcpAlarm(const std::string& field);

    Surroundings m_surroundings;
    std::int32_t m_lBaudRate = 0;
    std::string m_strResource;
    std::int32_t m_lReadCount = 255;
    bool m_bAcMessage = true;
    // The first failure since readThreeFields or VISAOpen began, for the traffic observer.
    std::string m_firstFailure;
    // The traffic observer has heard of the open session and not yet of its close.
    bool m_bOpenReported = false;
    std::int32_t m_openTimeoutMs;
    std::optional<std::chrono::milliseconds> m_startQuiet;
    unsigned m_failures = 0; // counts every failure runReported met
    // While set, the failure report is kept here instead of shown (an open
    // frees the port before its box shows).
    std::optional<std::string>* m_heldReport = nullptr;
};

} // namespace instrument
