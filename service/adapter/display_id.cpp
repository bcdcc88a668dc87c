#include "service/adapter/display_id.h"

#include <cstring>

#include "common/bytes.h"
#include "service/resources/resources.h"

namespace orv::adapter {

DisplayIdLayout LayoutDisplayId(int monitorId) {
    DisplayIdLayout layout;
    if (monitorId < 0 || monitorId > 9999) return layout;
    const std::array<int, 4> all = {monitorId / 1000, monitorId / 100 % 10, monitorId / 10 % 10,
                                    monitorId % 10};
    layout.count = all[0] != 0 ? 4 : (all[1] != 0 ? 3 : 2);
    const int first = 4 - layout.count;
    for (int k = 0; k < layout.count; ++k) {
        layout.digits[k] = all[first + k];
        layout.left[k] = (kDisplayIdWidth - kDigitPitch * layout.count) / 2 + kDigitPitch * k;
    }
    return layout;
}

bool ComposeDisplayIdPicture(int monitorId, std::span<std::uint8_t> picture) {
    using namespace orv::resources;
    const DisplayIdLayout layout = LayoutDisplayId(monitorId);
    const auto background = Resource("RGB_Binary", kBackgroundResourceId);
    if (layout.count == 0 || background.empty() || picture.size() < kDisplayIdBytes) return false;
    std::memcpy(picture.data(), background.data(), kDisplayIdBytes);

    constexpr std::size_t kRowBytes = std::size_t(kDisplayIdWidth) * 4;
    for (int k = 0; k < layout.count; ++k) {
        const auto glyph = DigitGlyph(layout.digits[k]);
        if (glyph.empty()) return false;
        for (int gy = 0; gy < kGlyphHeight; ++gy)
            for (int gx = 0; gx < kGlyphWidth; ++gx) {
                const std::size_t src = (std::size_t(gy) * kGlyphWidth + gx) * 4;
                if (bytes::LoadLE<std::uint32_t>(glyph.data() + src) == kGlyphTransparent) continue;
                const std::size_t dst =
                    std::size_t(kDigitTop + gy) * kRowBytes + std::size_t(layout.left[k] + gx) * 4;
                bytes::PutU32(picture, dst, kDigitPaint);
            }
    }
    return true;
}

}  // namespace orv::adapter
