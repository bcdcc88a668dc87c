#include "service/resources/resources.h"

#include <cstddef>

extern "C" {
extern const std::uint8_t orv_resource_background[];
extern const std::uint8_t orv_resource_background_end[];
extern const std::uint8_t orv_resource_digits[];
extern const std::uint8_t orv_resource_digits_end[];
}

namespace orv::resources {
namespace {

constexpr std::size_t kBackgroundBytes = std::size_t(kBackgroundWidth) * kBackgroundHeight * 4;
constexpr std::size_t kGlyphBytes = std::size_t(kGlyphWidth) * kGlyphHeight * 4;

std::span<const std::uint8_t> Between(const std::uint8_t* begin, const std::uint8_t* end) {
    return {begin, static_cast<std::size_t>(end - begin)};
}

}  // namespace

std::span<const std::uint8_t> Resource(std::string_view type, int id) {
    if (type != "RGB_Binary" || id != kBackgroundResourceId) return {};
    const auto all = Between(orv_resource_background, orv_resource_background_end);
    return all.size() == kBackgroundBytes ? all : std::span<const std::uint8_t>{};
}

std::span<const std::uint8_t> DigitGlyph(int digit) {
    const auto all = Between(orv_resource_digits, orv_resource_digits_end);
    if (digit < 0 || digit > 9 || all.size() != 10 * kGlyphBytes) return {};
    return all.subspan(static_cast<std::size_t>(digit) * kGlyphBytes, kGlyphBytes);
}

}  // namespace orv::resources
