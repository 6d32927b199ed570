#include "labelledcounter.h"

#include <QLabel>

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
