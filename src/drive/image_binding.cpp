#include "drive/image_binding.h"

namespace {

std::optional<uint32_t> chosen_family(const BoardFacts& facts, const ImageOptions& options) {
  if (options.uf2_family) return options.uf2_family;
  if (options.marker_family != 0) return options.marker_family;
  if (!facts.families.empty()) return facts.families.front();
  return std::nullopt;
}

std::optional<uint64_t> chosen_address(ImageFormat format, const BoardFacts& facts,
                                       const ImageOptions& options) {
  if (format != ImageFormat::kBinary) return uint64_t{0};  // the image says where
  if (options.address) return options.address;
  return facts.app_start;
}

ImageBinding refuse(const std::string& why) {
  ImageBinding binding;
  binding.plan = ImagePlan::kRefuse;
  binding.why = why;
  return binding;
}

}  // namespace

ImageBinding bind_image(ImageFormat format, const BoardFacts& facts, const ImageOptions& options) {
  const std::optional<uint64_t> address = chosen_address(format, facts, options);
  // A drive found by its %08X.ID marker took any file before; a raw binary
  // with nowhere to go is still copied as it is there.
  if (options.marker_family != 0 && !address) return ImageBinding{};
  const std::optional<uint32_t> family = chosen_family(facts, options);
  if (!family) {
    return refuse("the board does not tell which UF2 family it takes; give it with --uf2-family");
  }
  if (!address) {
    return refuse("the board does not tell where an application starts; give it with --address");
  }
  ImageBinding binding;
  binding.plan = ImagePlan::kConvert;
  binding.family = *family;
  binding.offset = *address;
  return binding;
}
