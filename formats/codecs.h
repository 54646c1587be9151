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

// Seattle Film Works, SciTex, Pixar, Sun TAAC and icons, CP8, Image Speeder,
// HRU and TDI Explore (sfw.cpp, scitex.cpp, pixar.cpp, suntaac.cpp, cp8.cpp,
// hru.cpp, tdi.cpp).
bool acceptSfw(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptPwp(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptScitex(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptPixar(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptTaac(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptIcon(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptCp8(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptSpeed(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptHru(const uint8_t* head, size_t n, int64_t fileSize);
bool acceptTdi(const uint8_t* head, size_t n, int64_t fileSize);
Status readSfw(FILE* stream, LoadRequest* request);
Status readPwp(FILE* stream, LoadRequest* request);
Status readScitex(FILE* stream, LoadRequest* request);
Status readPixar(FILE* stream, LoadRequest* request);
Status readTaac(FILE* stream, LoadRequest* request);
Status readIcon(FILE* stream, LoadRequest* request);
Status readCp8(FILE* stream, LoadRequest* request);
Status readSpeed(FILE* stream, LoadRequest* request);
Status readHru(FILE* stream, LoadRequest* request);
Status writeHru(FILE* stream, SaveRequest* request);
Status readTdi(FILE* stream, LoadRequest* request);

// Workstation, film and ray-tracer formats: MTV, DKB / QRT, Vivid, Alias and
// CLOE (raytrace.cpp), MIFF, Utah RLE (reader only), Wavefront RLA,
// Softimage, GEM (reader only), Cineon and Vista.
bool acceptMtv(const uint8_t* head, size_t n, int64_t fileSize);
Status readMtv(FILE* stream, LoadRequest* request);
Status writeMtv(FILE* stream, SaveRequest* request);
bool acceptDkb(const uint8_t* head, size_t n, int64_t fileSize);
Status readDkb(FILE* stream, LoadRequest* request);
Status writeDkb(FILE* stream, SaveRequest* request);
bool acceptVivid(const uint8_t* head, size_t n, int64_t fileSize);
Status readVivid(FILE* stream, LoadRequest* request);
Status writeVivid(FILE* stream, SaveRequest* request);
bool acceptAlias(const uint8_t* head, size_t n, int64_t fileSize);
Status readAlias(FILE* stream, LoadRequest* request);
Status writeAlias(FILE* stream, SaveRequest* request);
bool acceptCloe(const uint8_t* head, size_t n, int64_t fileSize);
Status readCloe(FILE* stream, LoadRequest* request);
bool acceptMiff(const uint8_t* head, size_t n, int64_t fileSize);
Status readMiff(FILE* stream, LoadRequest* request);
Status writeMiff(FILE* stream, SaveRequest* request);
bool acceptUtahRle(const uint8_t* head, size_t n, int64_t fileSize);
Status readUtahRle(FILE* stream, LoadRequest* request);
bool acceptRla(const uint8_t* head, size_t n, int64_t fileSize);
Status readRla(FILE* stream, LoadRequest* request);
Status writeRla(FILE* stream, SaveRequest* request);
bool acceptSoftimage(const uint8_t* head, size_t n, int64_t fileSize);
Status readSoftimage(FILE* stream, LoadRequest* request);
Status writeSoftimage(FILE* stream, SaveRequest* request);
bool acceptGem(const uint8_t* head, size_t n, int64_t fileSize);
Status readGem(FILE* stream, LoadRequest* request);
bool acceptCineon(const uint8_t* head, size_t n, int64_t fileSize);
Status readCineon(FILE* stream, LoadRequest* request);
Status writeCineon(FILE* stream, SaveRequest* request);
bool acceptVista(const uint8_t* head, size_t n, int64_t fileSize);
Status readVista(FILE* stream, LoadRequest* request);
Status writeVista(FILE* stream, SaveRequest* request);

// Atari ST and TT screens: Degas (reader and writer), NEOchrome, Spectrum 512
// (plain, compressed, smooshed), Tiny, ZZ Rough, Dali, STAD, GFA Raytrace,
// Doodle, Art Director; and QDV.
bool acceptDegas(const uint8_t* head, size_t n, int64_t size);
Status readDegas(FILE* stream, LoadRequest* request);
Status writeDegas(FILE* stream, SaveRequest* request);
bool acceptNeo(const uint8_t* head, size_t n, int64_t size);
Status readNeo(FILE* stream, LoadRequest* request);
bool acceptSpu(const uint8_t* head, size_t n, int64_t size);
Status readSpu(FILE* stream, LoadRequest* request);
bool acceptSpc(const uint8_t* head, size_t n, int64_t size);
Status readSpc(FILE* stream, LoadRequest* request);
bool acceptSps(const uint8_t* head, size_t n, int64_t size);
Status readSps(FILE* stream, LoadRequest* request);
bool acceptTiny(const uint8_t* head, size_t n, int64_t size);
Status readTiny(FILE* stream, LoadRequest* request);
bool acceptZzRough(const uint8_t* head, size_t n, int64_t size);
Status readZzRough(FILE* stream, LoadRequest* request);
bool acceptDali(const uint8_t* head, size_t n, int64_t size);
Status readDali(FILE* stream, LoadRequest* request);
bool acceptStad(const uint8_t* head, size_t n, int64_t size);
Status readStad(FILE* stream, LoadRequest* request);
bool acceptGfaRay(const uint8_t* head, size_t n, int64_t size);
Status readGfaRay(FILE* stream, LoadRequest* request);
bool acceptDoodle(const uint8_t* head, size_t n, int64_t size);
Status readDoodle(FILE* stream, LoadRequest* request);
bool acceptArtDirector(const uint8_t* head, size_t n, int64_t size);
Status readArtDirector(FILE* stream, LoadRequest* request);
bool acceptQdv(const uint8_t* head, size_t n, int64_t size);
Status readQdv(FILE* stream, LoadRequest* request);

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

// DICOM, YUV and raw data, HRZ.
bool acceptDicom(const uint8_t* head, size_t n, int64_t fileSize);
Status readDicom(FILE* stream, LoadRequest* request);
bool acceptHrz(const uint8_t* head, size_t n, int64_t fileSize);
Status readHrz(FILE* stream, LoadRequest* request);
Status readUyvyi(FILE* stream, LoadRequest* request);
Status writeUyvyi(FILE* stream, SaveRequest* request);
Status readUyvy(FILE* stream, LoadRequest* request);
Status writeUyvy(FILE* stream, SaveRequest* request);
Status readYuv411(FILE* stream, LoadRequest* request);
Status readYuv422(FILE* stream, LoadRequest* request);
Status readYuv444(FILE* stream, LoadRequest* request);
Status readRaw(FILE* stream, LoadRequest* request);
// Photo CD, digital cameras and eight-bit home-computer screens.
bool acceptPcd(const uint8_t* head, size_t n, int64_t fileSize);
Status readPcd(FILE* stream, LoadRequest* request);
bool acceptCasio(const uint8_t* head, size_t n, int64_t fileSize);
Status readCasio(FILE* stream, LoadRequest* request);
bool acceptRicoh(const uint8_t* head, size_t n, int64_t fileSize);
Status readRicoh(FILE* stream, LoadRequest* request);
bool acceptDc120(const uint8_t* head, size_t n, int64_t fileSize);
Status readDc120(FILE* stream, LoadRequest* request);
bool acceptZxScreen(const uint8_t* head, size_t n, int64_t fileSize);
Status readZxScreen(FILE* stream, LoadRequest* request);
bool acceptZxSnapshot(const uint8_t* head, size_t n, int64_t fileSize);
Status readZxSnapshot(FILE* stream, LoadRequest* request);
bool acceptMsx2(const uint8_t* head, size_t n, int64_t fileSize);
Status readMsx2(FILE* stream, LoadRequest* request);
bool acceptKoala(const uint8_t* head, size_t n, int64_t fileSize);
Status readKoala(FILE* stream, LoadRequest* request);
bool acceptArtStudio(const uint8_t* head, size_t n, int64_t fileSize);
Status readArtStudio(FILE* stream, LoadRequest* request);
bool acceptCpc(const uint8_t* head, size_t n, int64_t fileSize);
Status readCpc(FILE* stream, LoadRequest* request);
bool acceptFace(const uint8_t* head, size_t n, int64_t fileSize);
Status readFace(FILE* stream, LoadRequest* request);
bool acceptSbig(const uint8_t* head, size_t n, int64_t fileSize);
Status readSbig(FILE* stream, LoadRequest* request);
bool acceptXim(const uint8_t* head, size_t n, int64_t fileSize);
Status readXim(FILE* stream, LoadRequest* request);
bool acceptFbm(const uint8_t* head, size_t n, int64_t fileSize);
Status readFbm(FILE* stream, LoadRequest* request);
bool acceptPm(const uint8_t* head, size_t n, int64_t fileSize);
Status readPm(FILE* stream, LoadRequest* request);
bool acceptBiorad(const uint8_t* head, size_t n, int64_t fileSize);
Status readBiorad(FILE* stream, LoadRequest* request);
bool acceptSynu(const uint8_t* head, size_t n, int64_t fileSize);
Status readSynu(FILE* stream, LoadRequest* request);
bool acceptFit(const uint8_t* head, size_t n, int64_t fileSize);
Status readFit(FILE* stream, LoadRequest* request);
bool acceptVpb(const uint8_t* head, size_t n, int64_t fileSize);
Status readVpb(FILE* stream, LoadRequest* request);
bool acceptDbw(const uint8_t* head, size_t n, int64_t fileSize);
Status readDbw(FILE* stream, LoadRequest* request);
bool acceptBob(const uint8_t* head, size_t n, int64_t fileSize);
Status readBob(FILE* stream, LoadRequest* request);
bool acceptElectricImage(const uint8_t* head, size_t n, int64_t fileSize);
Status readElectricImage(FILE* stream, LoadRequest* request);
bool acceptAim(const uint8_t* head, size_t n, int64_t fileSize);
Status readAim(FILE* stream, LoadRequest* request);
// GIMP, Windows and PC formats, metafiles, animation.
bool acceptGbr(const uint8_t* head, size_t n, int64_t fileSize);
Status readGbr(FILE* stream, LoadRequest* request);
bool acceptPat(const uint8_t* head, size_t n, int64_t fileSize);
Status readPat(FILE* stream, LoadRequest* request);
Status writePat(FILE* stream, SaveRequest* request);
bool acceptXcf(const uint8_t* head, size_t n, int64_t fileSize);
Status readXcf(FILE* stream, LoadRequest* request);
bool acceptMsp(const uint8_t* head, size_t n, int64_t fileSize);
Status readMsp(FILE* stream, LoadRequest* request);
bool acceptMac(const uint8_t* head, size_t n, int64_t fileSize);
Status readMac(FILE* stream, LoadRequest* request);
bool acceptTim(const uint8_t* head, size_t n, int64_t fileSize);
Status readTim(FILE* stream, LoadRequest* request);
bool acceptPcPaint(const uint8_t* head, size_t n, int64_t fileSize);
Status readPcPaint(FILE* stream, LoadRequest* request);
bool acceptFli(const uint8_t* head, size_t n, int64_t fileSize);
Status readFli(FILE* stream, LoadRequest* request);
bool acceptWpg(const uint8_t* head, size_t n, int64_t fileSize);
Status readWpg(FILE* stream, LoadRequest* request);
bool acceptEps(const uint8_t* head, size_t n, int64_t fileSize);
Status readEps(FILE* stream, LoadRequest* request);
bool acceptWmf(const uint8_t* head, size_t n, int64_t fileSize);
Status readWmf(FILE* stream, LoadRequest* request);
bool acceptCut(const uint8_t* head, size_t n, int64_t fileSize);
Status readCut(FILE* stream, LoadRequest* request);
// helper B: GIMP icons, the SJ-1 camera, ImageLab, Calamus and Artisan.
bool acceptGicon(const uint8_t* head, size_t n, int64_t fileSize);
Status readGicon(FILE* stream, LoadRequest* request);
bool acceptSj1(const uint8_t* head, size_t n, int64_t fileSize);
Status readSj1(FILE* stream, LoadRequest* request);
bool acceptIlab(const uint8_t* head, size_t n, int64_t fileSize);
Status readIlab(FILE* stream, LoadRequest* request);
bool acceptCalamus(const uint8_t* head, size_t n, int64_t fileSize);
Status readCalamus(FILE* stream, LoadRequest* request);
bool acceptArtisan(const uint8_t* head, size_t n, int64_t fileSize);
Status readArtisan(FILE* stream, LoadRequest* request);
// helper A: CorelDRAW previews, ColoRIX, Acorn sprites.
bool acceptCdr(const uint8_t* head, size_t n, int64_t fileSize);
Status readCdr(FILE* stream, LoadRequest* request);
bool acceptRix(const uint8_t* head, size_t n, int64_t fileSize);
Status readRix(FILE* stream, LoadRequest* request);
bool acceptAcorn(const uint8_t* head, size_t n, int64_t fileSize);
Status readAcorn(FILE* stream, LoadRequest* request);
