// The command line's side of the rescue tools: the damage report and the
// sector map on the terminal, and their JSON members.
#pragma once

#include "cli/cli.h"
#include "image/damage.h"

#include <json-glib/json-glib.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Copies the image an outcome carries (data and error bytes); empty when it
// carries none.
void cli_keep_image(std::vector<unsigned char> *image, const engine_outcome *outcome);

// The sector map of error bytes (one per sector in disk order) with its
// legend, for this build's track count.
void cli_print_sector_map(FILE *to, const std::vector<unsigned char> &codes);
// The damage report's lines.
void cli_print_damage(FILE *to, const damage_report &report);
// After a read, dump or re-read: the damage report, then the sector map
// unless --no-map, on stderr.  Nothing for an empty image.
void cli_show_rescue(const cli_args &args, const std::vector<unsigned char> &image,
                     int whole_disk);

// Adds "damaged_files": the damaged files with their bad blocks and how
// their chains end.
void cli_json_add_damaged_files(JsonBuilder *b, const damage_report &report);
// The members `add` puts into an object, as ",\"a\":...,\"b\":..." to follow
// other members of an object ("" when none).
std::string cli_json_spliced(const std::function<void(JsonBuilder *)> &add);
// Adds "damaged_files" of an image (nothing for an empty image).
void cli_json_add_image_damage(JsonBuilder *b, const std::vector<unsigned char> &image,
                               int whole_disk);
