#pragma once

#include <QObject>

namespace skarnel {

// One of the counts a window shows: links listed, broken pages. 64-bit, so a large site never
// shows a wrong number.
class Counter final : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    qint64 value() const { return count; }
    void add()
    {
        ++count;
        emit changed(count);
    }
    void reset()
    {
        count = 0;
        emit changed(count);
    }

signals:
    void changed(qint64 value);

private:
    qint64 count = 0;
};

} // namespace skarnel
