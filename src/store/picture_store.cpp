#include "store/picture_store.hpp"

namespace pelx04 {

std::uint32_t pictureStore[pictureStoreSize] = {};

}  // namespace pelx04
