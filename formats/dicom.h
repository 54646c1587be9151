// DICOM files: what the element parser keeps of a data set for the reader.
#pragma once
#include <cstdint>
#include <cstdio>

#include "kaleocore.h"

constexpr int DICOM_TEXT_LEN = 68;

// How the pixel data are coded, from the transfer syntax.
enum DicomCoding : uint8_t {
    DC_RAW,        // native little-endian samples (implicit or explicit VR)
    DC_RLE,        // RLE Lossless
    DC_JPEG,       // JPEG baseline and extended (DCT)
    DC_LOSSLESS,   // JPEG lossless (processes 14 and first-order prediction)
    DC_DEFLATE,    // deflated data set
    DC_OTHER,      // any other encapsulated coding (JPEG-LS, JPEG 2000, MPEG...)
};

struct DicomHeader {
    int32_t frames;              // Number of Frames; 0 when absent
    int32_t rows;
    int32_t columns;
    int32_t planarByPlane;       // Planar Configuration 1: one plane after another
    int32_t samplesPerPixel;
    int32_t bitsAllocated;
    int32_t bitsStored;
    int32_t highBit;             // -1 when absent
    int32_t pixelRepresentation; // 1 = signed samples
    bool hasWindow;
    double windowCenter;
    double windowWidth;
    double rescaleIntercept;
    double rescaleSlope;
    char transferSyntax[DICOM_TEXT_LEN];
    char photometric[DICOM_TEXT_LEN];
    // Palette Color lookup tables: 256 R,G,B triplets.
    bool hasPalette;
    uint8_t palette[768];
    int32_t lutEntries[3];       // from the descriptors (0028,1101..1103); 0 when absent
    int32_t lutFirst[3];
    int32_t lutBits[3];
    // The Pixel Data element at the top level of the data set.
    bool encapsulated;           // undefined length: a sequence of fragments follows
    uint64_t pixelLength;        // defined length, when not encapsulated
    DicomCoding coding;
};

// Parses the data set from the start of the stream up to the top-level Pixel
// Data element, leaving the stream at the first byte of its value. Returns
// ST_OK, ST_UNKNOWN_FORMAT (not a data set), ST_READ_ERROR (cut before the
// pixel data) or ST_BAD_FILE with a message in the request.
Status dicomParse(FILE* f, int64_t fileSize, DicomHeader* h, LoadRequest* request);

// A decimal string's first value ("40\400" gives 40) whatever the C locale;
// false when it holds no number.
bool dicomDecimal(const char* text, double* out);
