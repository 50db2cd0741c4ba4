// Converts a JPEG photograph into a PNG written with libpng's default settings (compression
// level, filters), as the photo corpus of the PNG decode benchmark needs.
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <memory>
#include <png.h>
#include <vector>

namespace {

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

using File = std::unique_ptr<FILE, decltype(&std::fclose)>;

bool ReadJpeg(const char* path, std::vector<uint8_t>& rgb, uint32_t& width, uint32_t& height) {
    File file(std::fopen(path, "rb"), &std::fclose);
    if (!file) return false;
    jpeg_decompress_struct info{};
    JpegError error{};
    info.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = OnJpegError;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file.get());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    width = info.output_width;
    height = info.output_height;
    rgb.resize(static_cast<size_t>(width) * height * 3);
    while (info.output_scanline < height) {
        JSAMPROW row = rgb.data() + static_cast<size_t>(info.output_scanline) * width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool WritePng(const char* path, const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height) {
    File file(std::fopen(path, "wb"), &std::fclose);
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y)
        png_write_row(png, rgb.data() + static_cast<size_t>(y) * width * 3);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: photo_to_png PHOTO.jpg OUT.png\n");
        return 2;
    }
    std::vector<uint8_t> rgb;
    uint32_t width = 0, height = 0;
    if (!ReadJpeg(argv[1], rgb, width, height)) {
        std::fprintf(stderr, "photo_to_png: cannot read %s\n", argv[1]);
        return 1;
    }
    if (!WritePng(argv[2], rgb, width, height)) {
        std::fprintf(stderr, "photo_to_png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
