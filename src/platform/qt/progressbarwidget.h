#pragma once

// The progress bar as a widget of the window.

#include "platform/progressbar.h"

#include <QProgressBar>

namespace modburn {

// A progress bar that keeps its range and value as single-precision numbers
// (99.21875 stays 99.21875) and draws them on a fine integer scale.
class ProgressBarWidget : public QProgressBar, public IProgressBar {
    Q_OBJECT
public:
    explicit ProgressBarWidget(QWidget* parent = nullptr);

    float Min() const override { return min_; }
    void SetMin(float value) override;
    float Max() const override { return max_; }
    void SetMax(float value) override;
    float Value() const override { return value_; }
    void SetValue(float value) override;

private:
    void Redraw();

    float min_ = 0.0f;
    float max_ = 100.0f;
    float value_ = 0.0f;
};

}  // namespace modburn
