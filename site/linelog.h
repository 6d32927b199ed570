#pragma once

#include <QObject>
#include <QStringList>

namespace skarnel {

// Lines that a command writes one after the other: the broken pages of a check, the referring
// pages of a search. Only appended to, or emptied whole.
class LineLog final : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    const QStringList &lines() const { return written; }
    void append(const QString &line)
    {
        written.append(line);
        emit appended(line);
    }
    void clear()
    {
        written.clear();
        emit cleared();
    }

signals:
    void appended(const QString &line);
    void cleared();

private:
    QStringList written;
};

} // namespace skarnel
