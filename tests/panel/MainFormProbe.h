#pragma once

#include "panel/MainForm.h"

namespace panel::testing {

// Opens the window's state to the tests.
class MainFormProbe : public panel::MainForm {
public:
    using MainForm::m_bDataValid;
    using MainForm::m_bMeasuring;
    using MainForm::m_dbCurData;
    using MainForm::m_IO;
    using MainForm::m_lLastIndex;
    using MainForm::m_lSampleCount;
    using MainForm::m_lSleepMs;
    using MainForm::MainForm;
};

} // namespace panel::testing
