#pragma once

#include "sim/InstrumentSettings.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// The Orvane three-channel DC source as the program sees it over its line:
// one command line in, at most one reply line out. Pure state and physics; the
// transports (in-process session, pty, TCP) decide how bytes travel.
//
// Physics: while the output is on, each channel's current is its set voltage
// over its load, plus a little noise; with the output off every current is 0.
// CH1's full scale is 200 mA (RANGeset 1) or 10 mA (RANGeset 0), CH2 and CH3
// have 30 mA. A current above full scale reads "OVER"; a current above a
// channel's OCP limit trips the protection: the output goes off and that
// channel's field reads "CH<n> OCP" until the next OUTPut command.
class DcSourceModel {
public:
    // Time since the instrument was switched on; drives the timed OCP fault.
    using Clock = std::function<std::chrono::milliseconds()>;
    // One noise sample in [-1, 1]; scaled to 0.1 % of the channel's full scale.
    using Noise = std::function<double()>;

    static constexpr double kMaxVolts = 6.5;
    static constexpr std::array<double, kChannelCount> kPowerOnVolts{5.0, 3.0, 3.0};
    static constexpr const char* kIdentity = "Quendel,Orvane DC Source,SIM0001,1.00";

    DcSourceModel(InstrumentSettings settings, Clock clock, Noise noise);

    // Handles one command line (with or without its line feed) and returns the
    // reply bytes, line feed included, or nothing for settings, unknown
    // commands and a silent instrument.
    std::optional<std::string> handle(std::string_view line);

    // The state after switching on (and after *RST): output off, 5/3/3 V,
    // CH1 range 200 mA, sampling off, no tripped channel.
    void powerOn();

    // State, for tests and diagnostics.
    bool outputOn() const { return m_outputOn; }
    double setVolts(int channel) const { return m_volts[channel - 1]; }

private:
    std::optional<std::string> execute(std::string_view keyword, std::string_view argument, bool hasArgument);
    void setVoltageOf(int channel, std::string_view text);
    void setVoltageList(std::string_view list);
    void setOutput(bool on);
    void checkProtection();
    double fullScaleMa(int channel) const;
    double idealCurrentMa(int channel) const;
    std::string currentField(int channel);
    std::string allCurrents();
    std::string spoil(std::string reply);

    InstrumentSettings m_settings;
    Clock m_clock;
    Noise m_noise;
    std::array<double, kChannelCount> m_volts{};
    std::array<bool, kChannelCount> m_tripped{};
    std::vector<bool> m_timedTripFired;
    bool m_outputOn = false;
    bool m_range200mA = true;
    bool m_fastSampling = false;
    std::uint32_t m_garbageState = 0x2545F491u;
};

} // namespace sim
