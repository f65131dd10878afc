#include "platform/replace_file.h"

#include <random>

namespace hostprobe {

std::string RandomFileSuffix() {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::random_device random;
  std::string suffix;
  for (int i = 0; i < 10; ++i) suffix += kDigits[random() % 36];
  return suffix;
}

}  // namespace hostprobe
