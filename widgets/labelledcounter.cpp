#include "labelledcounter.h"

#include <QLabel>

#include <site/counter.h>

namespace skarnel {

LabelledCounter::LabelledCounter(QLabel &shownIn, QString fixedCaption, const Counter &count)
    : label(shownIn)
    , caption(std::move(fixedCaption))
{
    show(label, caption, count.value());
    // The connection lives as long as the label and the count, whatever becomes of the view.
    QObject::connect(&count, &Counter::changed, &label,
                     [shown = &label, text = caption](qint64 value) { show(*shown, text, value); });
}

void LabelledCounter::show(QLabel &label, const QString &caption, qint64 value)
{
    label.setText(caption + QString::number(value));
}

} // namespace skarnel
