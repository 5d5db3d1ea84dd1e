#pragma once

#include <QWidget>

namespace scope {

// The scope picture widget (being built: currently a black picture).
class WavePic : public QWidget {
    Q_OBJECT
public:
    explicit WavePic(QWidget* parent = nullptr);
};

} // namespace scope
