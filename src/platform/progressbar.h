#pragma once

// A progress bar with single-precision Min, Max and Value.

namespace modburn {

// A progress bar whose range and value are single-precision numbers.
class IProgressBar {
public:
    virtual ~IProgressBar() = default;

    virtual float Min() const = 0;
    virtual void SetMin(float value) = 0;
    virtual float Max() const = 0;
    virtual void SetMax(float value) = 0;
    virtual float Value() const = 0;
    virtual void SetValue(float value) = 0;
};

}  // namespace modburn
