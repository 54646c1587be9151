// Entry points of the codecs, named by the registry table (formats.cpp).
#pragma once
#include <cstdio>

#include "kaleocore.h"

// The registry table: 124 records in index order.
extern const FormatRecord FORMAT_TABLE[FORMAT_COUNT];

// Scaffold for formats whose codec is still to be built: the reader recognises
// nothing and the writer refuses. Every record that uses them sits in formats.cpp.
Status placeholderReader(FILE* stream, LoadRequest* request);
Status placeholderWriter(FILE* stream, SaveRequest* request);

// Identification tests of the formats' first bytes (see AcceptFn).
bool acceptJpeg(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptPng(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptMng(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptGif(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptTiff(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptSgi(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptRas(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptPsd(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptBmp(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptTga(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptPcx(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptDcx(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptPsp(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptPict(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptIff(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptPnm(const uint8_t* head, size_t n, int64_t fileSize);

// Windows and OS/2 bitmap.
Status readBmp(FILE* stream, LoadRequest* request);
Status writeBmp(FILE* stream, SaveRequest* request);

// CompuServe GIF.
Status readGif(FILE* stream, LoadRequest* request);
Status writeGif(FILE* stream, SaveRequest* request);

// JPEG through libjpeg.
Status readJpeg(FILE* stream, LoadRequest* request);
Status writeJpeg(FILE* stream, SaveRequest* request);

// PNG through libpng, and the PNG images inside MNG files (reader only).
Status readPng(FILE* stream, LoadRequest* request);
Status writePng(FILE* stream, SaveRequest* request);
Status readMng(FILE* stream, LoadRequest* request);

// ZSoft Paintbrush and its multi-page container.
Status readPcx(FILE* stream, LoadRequest* request);
Status writePcx(FILE* stream, SaveRequest* request);
Status readDcx(FILE* stream, LoadRequest* request);

// Truevision Targa.
Status readTga(FILE* stream, LoadRequest* request);
Status writeTga(FILE* stream, SaveRequest* request);

// Portable bitmap, graymap and pixmap (and XV thumbnails).
Status readPnm(FILE* stream, LoadRequest* request);
Status writePnm(FILE* stream, SaveRequest* request);

// Silicon Graphics image.
Status readSgi(FILE* stream, LoadRequest* request);
Status writeSgi(FILE* stream, SaveRequest* request);

// Sun raster (reader only).
Status readRas(FILE* stream, LoadRequest* request);

// Macintosh QuickDraw picture (reader only).
Status readPict(FILE* stream, LoadRequest* request);

// Adobe Photoshop document (reader only).
Status readPsd(FILE* stream, LoadRequest* request);

// TIFF (reader in tiffdir.cpp, tiffread.cpp and tiffdecode.cpp, writer in tiffwrite.cpp).
Status readTiff(FILE* stream, LoadRequest* request);
Status writeTiff(FILE* stream, SaveRequest* request);

// Raw Group 3 fax pages (reader only).
Status readFax(FILE* stream, LoadRequest* request);

// JBIG through JBIG-KIT.
Status readJbig(FILE* stream, LoadRequest* request);
Status writeJbig(FILE* stream, SaveRequest* request);

// Amiga IFF ILBM and PBM.
Status readIff(FILE* stream, LoadRequest* request);
Status writeIff(FILE* stream, SaveRequest* request);

// Paint Shop Pro (reader only).
Status readPsp(FILE* stream, LoadRequest* request);

// X11 bitmap and pixmap.
Status readXbm(FILE* stream, LoadRequest* request);
Status writeXbm(FILE* stream, SaveRequest* request);
Status readXpm(FILE* stream, LoadRequest* request);
Status writeXpm(FILE* stream, SaveRequest* request);

// Calculator and organiser bitmaps, Windows icons, cursors and clipboard files.
bool acceptIco(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptCur(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptClp(const uint8_t* head, size_t n, int64_t fileSize);
Status readIco(FILE* stream, LoadRequest* request);
Status writeIco(FILE* stream, SaveRequest* request);
Status readCur(FILE* stream, LoadRequest* request);
Status readClp(FILE* stream, LoadRequest* request);
// A PNG datastream at the stream's position, its signature included, shown under name.
Status readEmbeddedPng(FILE* stream, LoadRequest* request, const char* name);
bool acceptPalm(const uint8_t* head, size_t n, int64_t fileSize);
Status readPalm(FILE* stream, LoadRequest* request);
Status writePalm(FILE* stream, SaveRequest* request);
bool acceptPsion3(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptPsion5(const uint8_t* head, size_t n, int64_t fileSize);
Status readPsion3(FILE* stream, LoadRequest* request);
Status writePsion3(FILE* stream, SaveRequest* request);
Status readPsion5(FILE* stream, LoadRequest* request);
Status writePsion5(FILE* stream, SaveRequest* request);
bool acceptGrob(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptTi(const uint8_t* head, size_t n, int64_t fileSize);
Status readGrob(FILE* stream, LoadRequest* request);
Status writeGrob(FILE* stream, SaveRequest* request);
Status readTi(FILE* stream, LoadRequest* request);
Status writeTi(FILE* stream, SaveRequest* request);

// Unix workstation and scientific pictures.
bool acceptXwd(const uint8_t* head, size_t n, int64_t fileSize);
Status readXwd(FILE* stream, LoadRequest* request);
bool acceptAvs(const uint8_t* head, size_t n, int64_t fileSize);
Status readAvs(FILE* stream, LoadRequest* request);
bool acceptCmu(const uint8_t* head, size_t n, int64_t fileSize);
Status readCmu(FILE* stream, LoadRequest* request);
bool acceptFits(const uint8_t* head, size_t n, int64_t fileSize);
Status readFits(FILE* stream, LoadRequest* request);
bool acceptViff(const uint8_t* head, size_t n, int64_t fileSize);
Status readViff(FILE* stream, LoadRequest* request);
bool acceptVicar(const uint8_t* head, size_t n, int64_t fileSize);
Status readVicar(FILE* stream, LoadRequest* request);
