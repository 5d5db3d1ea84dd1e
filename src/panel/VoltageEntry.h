#pragma once

#include <QString>

#include <optional>

namespace panel {

// The check of a voltage box when its Vset button is clicked. An entry is a
// digit, or a digit, "." and up to four digits, at most 6.5 V; anything else
// is never sent, and the box is restored from the instrument instead.
struct VoltageEntry {
    // What the box shows from now on: the typed text, cut to its first six
    // characters once it has passed the first two checks. The cut stays
    // visible whether the entry is sent or restored.
    QString boxText;
    // The voltage to send, or empty: restore the box from the instrument's
    // set voltage.
    std::optional<double> voltage;

    static VoltageEntry check(const QString& typed);
};

} // namespace panel
