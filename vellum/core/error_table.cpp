#include "vellum/core/error_table.h"

#include <array>
#include <cstddef>

namespace vellum {

namespace {

constexpr std::array<const char*, 56> kErrorTexts = {
    "Not enough memory to perform the operation\r\n",
    "An error occured while opening the file\r\n",
    "An error occured while reading from file\r\n",
    "An error occured while writting to the file\r\n",
    "Invalid argument\r\n",
    "The content of the BMP file is incorrect\r\n",
    "This RLE variation is not supported\r\n",
    "The content of the GIF file is incorrect\r\n",
    "The content of the JPG file is incorrect\r\n",
    "Device context access error\r\n",
    "GetDIBits call failed\r\n",
    "The content of the GIF file is incorrect\r\n",
    "Resource not found\r\n",
    "callback returned FALSE - operation aborted\r\n",
    "The content of the PNG file is incorrect\r\n",
    "Internal PNG lib behavior - contact Quillmark\r\n",
    "Misc unexpected behavior error - contact Quillmark\r\n",
    "Font creation failed\r\n",
    "Misc internal TIFF error\r\n",
    "The content of the TIFF file is incorrect\r\n",
    "this will not read TIFF-LZW images (note, unused error message)\r\n",
    "Invalid PCX image\r\n",
    "a call to the fn CreateCompatibleBitmap failed\r\n",
    "End of an image while using single-line de/compression\r\n",
    "Error during a call to GetDIBits\r\n",
    "Device does not support an operation required by this function\r\n",
    "Invalid windows metafile\r\n",
    "The file was not of the requested bit-depth\r\n",
    "A call to BitBlt failed\r\n",
    "Output buffer is too small for this operation\r\n",
    "Not enough room in the output palette to store the colors from this image\r\n",
    "Invalid TGA File\r\n",
    "No TGA Thumbnail in the file\r\n",
    "Invalid GIF file\r\n",
    "A call to the fn CreateDIBitmap failed\r\n",
    "LZW de/compression is not permitted\r\n",
    "A call to SelectObject has failed\r\n",
    "The HISSRC or HISDEST object passed into the function does appear to be valid\r\n",
    "The function is obsolete\r\n",
    "A call to CreateDIBSection failed\r\n",
    "A call to SetWinMetaFileBits failed (95/98 only)\r\n",
    "A call to GetEnhMetaFileBits\tor GetWinMetaFileBits failed\r\n",
    "Apparently invalid PAX password\r\n",
    "Invalid PAX file\r\n",
    "This function is not supported in this build (see DLL build options)\r\n",
    "Invalid PSD (Photoshop) file\r\n",
    "This Photoshop sub-format is not supported\r\n",
    "Decryption error - possible bad password for encrypted files\r\n",
    "Encryption failed\r\n",
    "Compression failed\r\n",
    "Decompression error - possible bad password for encrypted files\r\n",
    "Invalid TLA file. may indicate incorrect password\r\n",
    "Invalid or unsupported WBMP (Wireless Bitmap) image\r\n",
    "The image has more pixels than the limit on decoded images allows\r\n",
    "The content of the WebP file is incorrect\r\n",
    "The content of the AVIF file is incorrect\r\n",
};

}  // namespace

const char* CoreErrorText(int32_t code) {
  if (code < 1 || code > static_cast<int32_t>(kErrorTexts.size())) return nullptr;
  return kErrorTexts[static_cast<size_t>(code - 1)];
}

}  // namespace vellum
