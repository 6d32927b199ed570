#pragma once

#include <QString>

class QLabel;

namespace skarnel {

class Counter;

// Shows a count in a label as its fixed caption followed by the number in plain decimal
// ("Internal links: 12"), from now on and each time the count changes, for as long as both live.
class LabelledCounter final
{
public:
    LabelledCounter(QLabel &label, QString caption, const Counter &count);

private:
    static void show(QLabel &label, const QString &caption, qint64 value);

    QLabel &label;
    QString caption;
};

} // namespace skarnel
