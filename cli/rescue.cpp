// What the rescue tools show on the terminal: the damage report, the sector
// map, and their JSON members.
#include "cli/rescue.h"

#include <json-glib/json-glib.h>

#include <cstdio>

#include "image/d64.h"
#include "image/directory.h"
#include "image/listing.h"
#include "image/sector_map.h"

void cli_keep_image(std::vector<unsigned char> *image, const engine_outcome *outcome)
{
    image->clear();
    if (outcome->image && outcome->error_codes)
        image->assign(outcome->image,
                      outcome->image + d64_base_size + d64_block_error_info_size);
}

void cli_print_sector_map(FILE *to, const std::vector<unsigned char> &codes)
{
    std::vector<std::string> lines;
    sector_map_lines(codes.data(), (int)codes.size(), TRACKS, &lines);
    for (const std::string &line : lines)
        fprintf(to, "%s\n", line.c_str());
}

void cli_print_damage(FILE *to, const damage_report &report)
{
    std::vector<std::string> lines;
    damage_report_lines(report, &lines);
    for (const std::string &line : lines)
        fprintf(to, "%s\n", line.c_str());
}

void cli_show_rescue(const cli_args &args, const std::vector<unsigned char> &image, int whole_disk)
{
    if (image.size() < (size_t)(d64_base_size + d64_block_error_info_size))
        return;
    damage_report report;
    damage_report_make(image.data(), whole_disk, &report);
    cli_print_damage(stderr, report);
    if (!args.no_map)
        cli_print_sector_map(stderr, std::vector<unsigned char>(image.begin() + d64_base_size,
                                                                image.end()));
}

namespace {

void add_block(JsonBuilder *b, const damage_block &block)
{
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "track");
    json_builder_add_int_value(b, block.track);
    json_builder_set_member_name(b, "sector");
    json_builder_add_int_value(b, block.sector);
    json_builder_set_member_name(b, "code");
    json_builder_add_int_value(b, block.code);
    json_builder_end_object(b);
}

const char *chain_word(damage_chain_end end)
{
    switch (end) {
    case DAMAGE_CHAIN_UNREADABLE: return "broken";
    case DAMAGE_CHAIN_BAD_LINK: return "bad_link";
    case DAMAGE_CHAIN_LOOP: return "loop";
    case DAMAGE_CHAIN_NOT_READ: return "not_read";
    case DAMAGE_CHAIN_WHOLE: break;
    }
    return "whole";
}

}  // namespace

void cli_json_add_damaged_files(JsonBuilder *b, const damage_report &report)
{
    json_builder_set_member_name(b, "damaged_files");
    json_builder_begin_array(b);
    for (const damage_file &f : report.files) {
        if (!damage_file_is_damaged(f))
            continue;
        json_builder_begin_object(b);
        json_builder_set_member_name(b, "entry");
        json_builder_add_int_value(b, f.entry);
        json_builder_set_member_name(b, "name");
        gchar *name = g_utf8_make_valid(damage_file_name(f).c_str(), -1);
        json_builder_add_string_value(b, name);
        g_free(name);
        json_builder_set_member_name(b, "type");
        json_builder_add_string_value(b, filetypedescriptors[(f.type & 0x3F) % 5]);
        json_builder_set_member_name(b, "blocks");
        json_builder_add_int_value(b, f.blocks);
        json_builder_set_member_name(b, "bad_blocks");
        json_builder_begin_array(b);
        for (const damage_block &block : f.bad)
            add_block(b, block);
        json_builder_end_array(b);
        json_builder_set_member_name(b, "chain");
        json_builder_add_string_value(b, chain_word(f.end));
        if (f.end != DAMAGE_CHAIN_WHOLE) {
            json_builder_set_member_name(b, "chain_end");
            add_block(b, f.end_at);
            json_builder_set_member_name(b, "unknown_blocks");
            json_builder_add_int_value(b, f.unknown);
        }
        json_builder_end_object(b);
    }
    json_builder_end_array(b);
}

std::string cli_json_spliced(const std::function<void(JsonBuilder *)> &add)
{
    JsonBuilder *b = json_builder_new();
    json_builder_begin_object(b);
    add(b);
    json_builder_end_object(b);
    JsonGenerator *g = json_generator_new();
    JsonNode *root = json_builder_get_root(b);
    json_generator_set_root(g, root);
    gchar *text = json_generator_to_data(g, nullptr);
    std::string object = text;
    g_free(text);
    json_node_unref(root);
    g_object_unref(g);
    g_object_unref(b);
    // "{...}" without its braces, after a comma: members to splice in.
    if (object.size() <= 2)
        return "";
    return "," + object.substr(1, object.size() - 2);
}

void cli_json_add_image_damage(JsonBuilder *b, const std::vector<unsigned char> &image,
                               int whole_disk)
{
    if (image.size() < (size_t)(d64_base_size + d64_block_error_info_size))
        return;
    damage_report report;
    damage_report_make(image.data(), whole_disk, &report);
    cli_json_add_damaged_files(b, report);
}
