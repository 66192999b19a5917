// The one translation unit that holds stb's image writer, which the gallery
// uses to save its sheet. Nothing reads a user's file with stb.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
