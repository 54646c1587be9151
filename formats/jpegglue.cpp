// libjpeg glue: error manager, sources, destination, and the two decoding drivers.
//
// Every function here that calls libjpeg after arming the jump keeps only
// plain C data in its frame, so that the jump back never skips a destructor.
#include "jpegglue.h"

#include <cstring>

#include <jerror.h>

#include "context.h"

const char JPEG_NAME_GREY[] = "JPEG Grayscale";
const char JPEG_NAME_RGB[] = "JPEG TrueColor";
const char JPEG_NAME_CMYK[] = "JPEG CMYK";

namespace {

const char MSG_BAD_SIZE[] = "JPEG : Bad picture's size !";
const char MSG_BAD_COMPONENTS[] = "JPEG : Bad number of components !";
const char MSG_TOO_MANY_SCANS[] = "Too many scans in the file";

constexpr size_t SOURCE_BUFFER = 4096;
const JOCTET FAKE_EOI[2] = {0xFF, JPEG_EOI};

void jumpBack(j_common_ptr cinfo) {
    JpegErrorManager* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

// Watches the warning that the entropy decoder ran out of data: after the end
// of the source, the rest of the picture is filling.
// Warnings go to the library's warning report, the first of a stream only (as
// libjpeg prints them); trace messages stay with libjpeg.
void watchWarnings(j_common_ptr cinfo, int level) {
    JpegErrorManager* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    if (level >= 0) {
        err->defaultEmit(cinfo, level);
        return;
    }
    if (err->inputEnded && cinfo->err->msg_code == JWRN_HIT_MARKER) err->dataMissing = true;
    if (cinfo->err->num_warnings++ == 0) {
        char text[JMSG_LENGTH_MAX];
        (*cinfo->err->format_message)(cinfo, text);
        reportWarning(text);
    }
}

// Ends a cut-off stream: libjpeg warns and sees the end of the image.
boolean insertEoi(j_decompress_ptr cinfo) {
    reinterpret_cast<JpegErrorManager*>(cinfo->err)->inputEnded = true;
    WARNMS(cinfo, JWRN_JPEG_EOF);
    cinfo->src->next_input_byte = FAKE_EOI;
    cinfo->src->bytes_in_buffer = sizeof FAKE_EOI;
    return TRUE;
}

void skipBytes(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* src = cinfo->src;
    while (count > static_cast<long>(src->bytes_in_buffer)) {
        count -= static_cast<long>(src->bytes_in_buffer);
        (void)(*src->fill_input_buffer)(cinfo);
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<size_t>(count);
}

void noOp(j_decompress_ptr) {}

struct StreamSource {
    jpeg_source_mgr pub;
    FILE* stream;
    uint64_t left;      // bytes the source may still read
    bool startOfFile;
    JOCTET buffer[SOURCE_BUFFER];
};

void streamInit(j_decompress_ptr cinfo) { reinterpret_cast<StreamSource*>(cinfo->src)->startOfFile = true; }

boolean streamFill(j_decompress_ptr cinfo) {
    StreamSource* src = reinterpret_cast<StreamSource*>(cinfo->src);
    size_t want = src->left < SOURCE_BUFFER ? static_cast<size_t>(src->left) : SOURCE_BUFFER;
    size_t got = want ? fread(src->buffer, 1, want, src->stream) : 0;
    src->left -= got;
    if (got == 0) {
        if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        return insertEoi(cinfo);
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = got;
    src->startOfFile = false;
    return TRUE;
}

void memoryInit(j_decompress_ptr) {}

boolean memoryFill(j_decompress_ptr cinfo) { return insertEoi(cinfo); }

// Ends decoding of a file with absurdly many scans (each may rework the whole picture).
void watchScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > JPEG_MAX_SCANS) {
        JpegErrorManager* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
        strncpy(err->message, MSG_TOO_MANY_SCANS, sizeof err->message - 1);
        err->message[sizeof err->message - 1] = '\0';
        longjmp(err->jump, 1);
    }
}

// The core's bounded size (thumbnails): shrink keeping the aspect ratio, never enlarge.
void boundedSize(int64_t w, int64_t h, int64_t maxW, int64_t maxH, int64_t* outW, int64_t* outH) {
    *outW = w;
    *outH = h;
    if (maxW <= 0 || maxH <= 0 || (maxW >= w && maxH >= h)) return;
    *outW = maxW;
    *outH = maxW * h / w;
    if (*outH > maxH) {
        *outH = maxH;
        *outW = maxH * w / h;
    }
    if (*outW < 1) *outW = 1;
    if (*outH < 1) *outH = 1;
}

// For a bounded load, the smallest libjpeg scale (M/8) whose picture the core
// shrinks to exactly the size it would give the full picture.
void chooseScale(j_decompress_ptr cinfo) {
    const IoContext& ctx = ioContext();
    const int64_t maxW = ctx.examine ? 0 : ctx.options.maxWidth;
    const int64_t maxH = ctx.examine ? 0 : ctx.options.maxHeight;
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    int64_t wantW, wantH;
    boundedSize(cinfo->image_width, cinfo->image_height, maxW, maxH, &wantW, &wantH);
    if (wantW == cinfo->image_width && wantH == cinfo->image_height) return;
    for (unsigned m = 1; m < 8; ++m) {
        cinfo->scale_num = m;
        cinfo->scale_denom = 8;
        jpeg_calc_output_dimensions(cinfo);
        int64_t w = cinfo->output_width, h = cinfo->output_height, gotW, gotH;
        if (w < wantW || h < wantH) continue;
        boundedSize(w, h, maxW, maxH, &gotW, &gotH);
        if (gotW == wantW && gotH == wantH) return;
    }
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
}

void refuse(const JpegReadJob& job, const char* message) {
    if (job.request) setReaderMessage(job.request, message);
}

}  // namespace

jpeg_error_mgr* jpegInitErrors(JpegErrorManager* err) {
    jpeg_error_mgr* pub = jpeg_std_error(&err->pub);
    pub->error_exit = jumpBack;
    pub->trace_level = 0;
    err->message[0] = '\0';
    err->inputEnded = false;
    err->dataMissing = false;
    err->defaultEmit = pub->emit_message;
    pub->emit_message = watchWarnings;
    return pub;
}

void jpegLimitDecompressor(j_decompress_ptr cinfo) {
    cinfo->mem->max_memory_to_use = JPEG_MEMORY_LIMIT;
    jpeg_progress_mgr* progress = static_cast<jpeg_progress_mgr*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(jpeg_progress_mgr)));
    memset(progress, 0, sizeof *progress);
    progress->progress_monitor = watchScans;
    cinfo->progress = progress;
}

void jpegStreamSource(j_decompress_ptr cinfo, FILE* stream, uint64_t limit) {
    StreamSource* src = static_cast<StreamSource*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(StreamSource)));
    src->pub.init_source = streamInit;
    src->pub.fill_input_buffer = streamFill;
    src->pub.skip_input_data = skipBytes;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = noOp;
    src->pub.next_input_byte = nullptr;
    src->pub.bytes_in_buffer = 0;
    src->stream = stream;
    src->left = limit ? limit : UINT64_MAX;
    src->startOfFile = true;
    cinfo->src = &src->pub;
}

void jpegMemorySource(j_decompress_ptr cinfo, const uint8_t* data, size_t size) {
    jpeg_source_mgr* src = static_cast<jpeg_source_mgr*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(jpeg_source_mgr)));
    src->init_source = memoryInit;
    src->fill_input_buffer = memoryFill;
    src->skip_input_data = skipBytes;
    src->resync_to_restart = jpeg_resync_to_restart;
    src->term_source = noOp;
    src->next_input_byte = data;
    src->bytes_in_buffer = data ? size : 0;
    cinfo->src = src;
}

void jpegStreamDestination(j_compress_ptr cinfo, FILE* stream) { jpeg_stdio_dest(cinfo, stream); }

Status jpegReadImage(const JpegReadJob& job) {
    JpegErrorManager err;
    jpeg_decompress_struct cinfo;
    memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpegInitErrors(&err);
    // 0: nothing begun; 1: beginImage done; 2: endImage done.
    volatile int stage = 0;
    volatile bool created = false;
    if (setjmp(err.jump)) {
        if (created) jpeg_destroy_decompress(&cinfo);
        if (stage == 0) return ST_UNKNOWN_FORMAT;
        if (stage == 1) endImage(0, 8, nullptr);
        return ST_CORRUPT;
    }
    jpeg_create_decompress(&cinfo);
    created = true;
    jpegLimitDecompressor(&cinfo);
    if (job.stream) jpegStreamSource(&cinfo, job.stream, job.limit);
    else jpegMemorySource(&cinfo, job.data, job.size);
    jpeg_read_header(&cinfo, TRUE);

    if (cinfo.image_width < 1 || cinfo.image_height < 1 || cinfo.image_width > MAX_IMAGE_SIDE ||
        cinfo.image_height > MAX_IMAGE_SIDE) {
        jpeg_destroy_decompress(&cinfo);
        refuse(job, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    if (job.flags & OPT_FAST_DECODE) {
        cinfo.dct_method = JDCT_IFAST;
        cinfo.do_fancy_upsampling = FALSE;
    }
    chooseScale(&cinfo);
    jpeg_calc_output_dimensions(&cinfo);

    RasterHeader rh{};
    const char* name;
    if (cinfo.out_color_space == JCS_GRAYSCALE && cinfo.out_color_components == 1) {
        rh.bitsPerPlane = 8;
        name = JPEG_NAME_GREY;
    } else if (cinfo.out_color_space == JCS_RGB && cinfo.out_color_components == 3) {
        rh.bitsPerPlane = 24;
        name = JPEG_NAME_RGB;
    } else if (cinfo.out_color_space == JCS_CMYK && cinfo.out_color_components == 4 && job.allowCmyk) {
        rh.bitsPerPlane = 32;
        rh.layout = PL_CMYK_INV;
        name = JPEG_NAME_CMYK;
    } else {
        jpeg_destroy_decompress(&cinfo);
        refuse(job, MSG_BAD_COMPONENTS);
        return ST_BAD_FILE;
    }
    const int components = cinfo.out_color_components;
    rh.orientation = job.orientation;
    rh.channels = 1;
    rh.planes = 1;
    rh.width = static_cast<int32_t>(cinfo.output_width);
    rh.height = static_cast<int32_t>(cinfo.output_height);
    rh.bytesPerPlane = rh.width * components;
    setRasterName(rh.name, job.name ? job.name : name);
    rh.compression = "JPEG";
    Status st = beginImage(&rh);
    if (st != ST_OK) {
        jpeg_destroy_decompress(&cinfo);
        return st;
    }
    stage = 1;
    // The file's own size, whatever scale the decoder works at.
    FileInfo* info = ioContext().info;
    if (info) {
        info->width = static_cast<int32_t>(cinfo.image_width);
        info->height = static_cast<int32_t>(cinfo.image_height);
        info->bytesPerPlane = static_cast<int32_t>(cinfo.image_width) * components;
    }

    jpeg_start_decompress(&cinfo);
    // A file of several scans is read whole before the first row comes out: cut
    // short, every row is there at a lower quality, and the load still fails.
    const bool cutBeforeRows = err.inputEnded;
    for (int32_t y = 0; y < rh.height && st == ST_OK; ++y) {
        // Rows the pipeline would only copy are decoded straight into the picture.
        uint8_t* direct = directRow(y);
        JSAMPROW row = direct ? direct : rh.rowBuffer;
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
            st = ST_CORRUPT;  // a source never suspends; no progress means no data
            if (direct) memset(direct, 0, static_cast<size_t>(rh.bytesPerPlane));
            break;
        }
        // A single scan cut short: this row and the rest are filling. (A file
        // missing only its end marker has every row.)
        if (err.dataMissing && !cutBeforeRows) {
            st = ST_READ_ERROR;
            if (direct) memset(direct, 0, static_cast<size_t>(rh.bytesPerPlane));
            break;
        }
        st = direct ? rowsPlaced(1) : putRows(-1, y, 1);
    }
    if (st == ST_OK && cutBeforeRows) st = ST_READ_ERROR;
    endImage(0, 8, nullptr);
    stage = 2;
    if (st == ST_OK) jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return st;
}

Status jpegDecodeScanlines(const JpegScanlineJob& job) {
    JpegErrorManager err;
    jpeg_decompress_struct cinfo;
    memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpegInitErrors(&err);
    volatile bool created = false;
    if (setjmp(err.jump)) {
        if (created) jpeg_destroy_decompress(&cinfo);
        return ST_READ_ERROR;
    }
    jpeg_create_decompress(&cinfo);
    created = true;
    jpegLimitDecompressor(&cinfo);
    if (job.tables && job.tablesSize) {
        jpegMemorySource(&cinfo, job.tables, job.tablesSize);
        jpeg_read_header(&cinfo, FALSE);
    }
    jpegMemorySource(&cinfo, job.data, job.size);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width > MAX_IMAGE_SIDE || cinfo.image_height > MAX_IMAGE_SIDE) {
        jpeg_destroy_decompress(&cinfo);
        return ST_READ_ERROR;
    }
    if (job.flags & OPT_FAST_DECODE) {
        cinfo.dct_method = JDCT_IFAST;
        cinfo.do_fancy_upsampling = FALSE;
    }
    if (job.configure) job.configure(job.datum, &cinfo);
    jpeg_start_decompress(&cinfo);
    JSAMPARRAY rows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                 cinfo.output_width * cinfo.output_components, 1);
    Status st = ST_OK;
    const bool cutBeforeRows = err.inputEnded;
    for (int32_t y = 0; y < static_cast<int32_t>(cinfo.output_height) && st == ST_OK; ++y) {
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1 || (err.dataMissing && !cutBeforeRows)) {
            st = ST_READ_ERROR;
            break;
        }
        if (job.row) st = job.row(job.datum, rows[0], y, &cinfo);
    }
    if (st == ST_OK && cutBeforeRows) st = ST_READ_ERROR;
    if (st == ST_OK) jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return st;
}
