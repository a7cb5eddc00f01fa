// The progress bar on QProgressBar, keeping the single-precision values it was given.

#include "platform/qt/progressbarwidget.h"

#include "platform/errors.h"

#include <algorithm>
#include <cmath>

namespace modburn {

namespace {
constexpr int Steps = 10000;
}

ProgressBarWidget::ProgressBarWidget(QWidget* parent) : QProgressBar(parent)
{
    setRange(0, Steps);
    setTextVisible(false);
    Redraw();
}

void ProgressBarWidget::SetMin(float value)
{
    if (value >= max_)
        throw RuntimeError(err::InvalidPropertyValue, "Invalid property value");
    min_ = value;
    Redraw();
}

void ProgressBarWidget::SetMax(float value)
{
    if (value <= min_)
        throw RuntimeError(err::InvalidPropertyValue, "Invalid property value");
    max_ = value;
    Redraw();
}

void ProgressBarWidget::SetValue(float value)
{
    if (!std::isfinite(value) || value < min_ || value > max_)
        throw RuntimeError(err::InvalidPropertyValue, "Invalid property value");
    value_ = value;
    Redraw();
}

void ProgressBarWidget::Redraw()
{
    const float share = (std::clamp(value_, min_, max_) - min_) / (max_ - min_);
    setValue(static_cast<int>(std::lround(share * Steps)));
}

}  // namespace modburn
