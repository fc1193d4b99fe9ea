#pragma once
// The error of the quantized result against the source, as the settings dialog shows it.
#include <array>
#include <cstdint>
#include <string>

#include "imaging/engine_state.h"
#include "imaging/settings.h"

namespace jx {

struct TErrorMetrics {
    // Per component (c1, c2, c3, A): the mean squared or absolute difference, or for psnr the dB
    // value (infinite for a mean of 0). Not meaningful when the counts are 0.
    std::array<double, 4> Value{};
    double Rmse = 0;            // square root of the four mean squared differences
    int64_t ColorPixels = 0;    // pixels the colour components were averaged over
    int64_t AlphaPixels = 0;    // pixels the alpha component was averaged over
    std::array<std::string, 4> Labels;  // the dialog's four labels
    std::string BatchRmse;      // with batch: rmse as "0.00" for the batch window
};

// viewTab is the main window's view tab: 0 every pixel, 1 only the opaque source pixels, 2 only
// the translucent ones. Each mean divides by the number of pixels it summed: the colour components
// over the selected pixels whose output is not fully transparent, alpha over all selected pixels.
// No pixel to average gives "-". With batch the metric is rmse.
TErrorMetrics ShowErrorMetrics(const EngineState& state, TErrorMetric metric, int32_t viewTab, bool batch);

// A value as the labels show it: two decimals, "inf" for an infinite one.
std::string FormatMetric(double value);

}  // namespace jx
