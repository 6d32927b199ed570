#include "labelledcounter.h"

#include <QLabel>

namespace skarnel {

LabelledCounter::LabelledCounter(QLabel *label, QString caption)
    : label(label)
    , caption(std::move(caption))
{
}

void LabelledCounter::show()
{
    label->setText(caption + QString::number(count));
}

void LabelledCounter::reset()
{
    count = 0;
    show();
}

} // namespace skarnel
