// Writing a clean D64 image onto the disk in a drive: the device formats and
// writes the tracks and asks for one outgoing warp packet per sector.
#pragma once

#include "engine/engine.h"

#include <atomic>
#include <cstddef>
#include <vector>

// The order in which the sectors of a track with `sectors` sectors (17, 18,
// 19 or 21) are sent; fills order[0..sectors-1] and returns 1, or returns 0
// for another count.
int restore_sector_order(int sectors, int *order);

enum engine_image_check {
    ENGINE_IMAGE_CLEAN,       // can be written
    ENGINE_IMAGE_WRONG_SIZE,  // not a D64 of this build's track count
    ENGINE_IMAGE_HAS_ERRORS,  // its error info marks a sector as not read correctly
};

// Judges a D64 file's bytes before they go to a disk.  *error_count gets the
// accessible sector errors its error info holds (0 without error info).
engine_image_check engine_restore_check_image(const unsigned char *data, size_t length,
                                              int *error_count);
// The log line that explains a refusal.
const char *engine_restore_refusal_log_line(engine_image_check check);


// Sends `image` (d64_base_size bytes) to the disk in drive `device`: one
// sector_cell (CELL code 10, written) and progress per sector, then
// `finished`.  Logs nothing but, after a failure or an abort once the
// write request went out, "The disk in drive N is now partly overwritten";
// *written (when given) tells whether it went out.  The caller frames the
// log.  1 on success.
int engine_restore_send(const engine_ui *ui, const char *port, int device,
                        const unsigned char *image, int *written = nullptr);

struct engine_write_request {
    const char *port;
    int device;
    const char *image_path;      // the D64 file; shown in the question
    const unsigned char *image;  // its bytes when already read (else null)
    size_t image_size;
    int *written = nullptr;      // when given: 1 once the write request went out to the drive
};

// The first step of a restore: the image's bytes (read from image_path unless
// `image` is given) into *bytes, and their check.  Logs why it is refused:
// "Unable to load from image: ..." (ENGINE_ERROR_UNABLE_TO_LOAD) or the
// refusal line (ENGINE_ERROR_WRONG_IMAGE_SIZE, with a file larger than any
// image too; ENGINE_ERROR_IMAGE_HAS_ERRORS, the bytes kept so that they can
// be shown).  *error_count per engine_restore_check_image.  Touches no port.
// `abort` as for engine_read_input_file: the window, which checks before its
// job starts, passes none.
engine_error engine_write_image_load(const engine_ui *ui, const engine_write_request *request,
                                    std::vector<unsigned char> *bytes, int *error_count,
                                    std::atomic<int> *abort);

// The whole restore of a file: reads and checks it (refusals are failures
// with the texts above), asks ENGINE_ASK_WRITE_DISK, sends it, and frames
// the log as the GUI does.  1 when the disk was written.
int engine_write_image(const engine_ui *ui, const engine_write_request *request);
