#pragma once

#include <QString>

class QLabel;

namespace skarnel {

// A count shown in a label as its fixed caption followed by the number in plain decimal
// ("Internal links: 12"). Counts are 64-bit, so a large site never shows a wrong number.
class LabelledCounter
{
public:
    LabelledCounter(QLabel *label, QString caption);

    qint64 value() const { return count; }
    // Adds one without showing it; show() writes the label.
    void add() { ++count; }
    void show();
    void reset();

private:
    QLabel *label = nullptr;
    QString caption;
    qint64 count = 0;
};

} // namespace skarnel
