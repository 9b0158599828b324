// ls, extract, map, merge: D64 files on the PC, no board needed.
#include "cli/cli.h"
#include "cli/rescue.h"

#include "engine/drive_files.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "image/listing.h"
#include "image/merge.h"

#include <glib/gstdio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "version.h"

namespace {

// JSON of a whole offline run: the command, then what `add` puts in.
void print_json(const cli_args &args, const std::function<void(JsonBuilder *)> &add)
{
    std::string members = cli_json_spliced([&](JsonBuilder *b) {
        json_builder_set_member_name(b, "command");
        json_builder_add_string_value(b, args.subcommand.c_str());
        add(b);
    });
    printf("{%s}\n", members.c_str() + 1);
    fflush(stdout);
}

void add_string(JsonBuilder *b, const char *name, const std::string &value)
{
    json_builder_set_member_name(b, name);
    gchar *shown = g_filename_display_name(value.c_str());
    json_builder_add_string_value(b, shown);
    g_free(shown);
}

void add_int(JsonBuilder *b, const char *name, gint64 value)
{
    json_builder_set_member_name(b, name);
    json_builder_add_int_value(b, value);
}

void add_ts(JsonBuilder *b, int track, int sector)
{
    add_int(b, "track", track);
    add_int(b, "sector", sector);
}

// A failure: the error line, and with --json the summary that says so.
int fail(const cli_args &args, const std::string &message)
{
    cli_error("%s", message.c_str());
    if (args.json)
        print_json(args, [&](JsonBuilder *b) {
            json_builder_set_member_name(b, "outcome");
            json_builder_add_string_value(b, "failed");
            json_builder_set_member_name(b, "error");
            gchar *valid = g_utf8_make_valid(message.c_str(), -1);
            json_builder_add_string_value(b, valid);
            g_free(valid);
            add_int(b, "exit_status", CLI_EXIT_FAILED);
        });
    return CLI_EXIT_FAILED;
}

// Loads a D64 file as the window reads one (a file without error info
// counts as read cleanly); CLI_EXIT_OK, or the failure's status after its
// error line.
int load_image(const cli_args &args, const std::string &path, std::vector<uint8_t> *image)
{
    GError *error = nullptr;
    if (filer_read_d64_file(path.c_str(), image, &error))
        return CLI_EXIT_OK;
    std::string message = error ? error->message : path;
    g_clear_error(&error);
    return fail(args, message);
}

int count_bad(const std::vector<uint8_t> &image)
{
    return d64_count_accessible_sector_errors(image.data(), 1, TRACKS);
}

std::vector<unsigned char> codes_of(const std::vector<uint8_t> &image)
{
    return std::vector<unsigned char>(image.begin() + d64_base_size, image.end());
}

std::string ts_text(int track, int sector)
{
    return std::to_string(track) + "/" + std::to_string(sector);
}

}  // namespace

// ---------------------------------------------------------------- ls

int cli_run_ls(const cli_args &args)
{
    std::vector<uint8_t> image;
    if (int status = load_image(args, args.operands[0], &image))
        return status;
    GString *text = g_string_new(nullptr);
    int loop = 0;
    d64_create_directory_listing(image.data(), text, 0, &loop);
    std::string head = "{\"command\":\"ls\"" +
                       cli_json_spliced([&](JsonBuilder *b) {
                           add_string(b, "file", args.operands[0]);
                       });
    cli_print_listing(text->str, args.json, head);
    g_string_free(text, TRUE);
    if (loop) {
        cli_error("the directory chain of %s comes back on itself; shown up to there",
                  args.operands[0].c_str());
        return CLI_EXIT_FAILED;
    }
    return CLI_EXIT_OK;
}

// ---------------------------------------------------------------- map

int cli_run_map(const cli_args &args)
{
    std::vector<uint8_t> image;
    if (int status = load_image(args, args.operands[0], &image))
        return status;
    damage_report report;
    damage_report_make(image.data(), 1, &report);
    int bad = count_bad(image);
    int status = bad > 0 ? CLI_EXIT_SECTOR_ERRORS : CLI_EXIT_OK;
    if (args.json) {
        print_json(args, [&](JsonBuilder *b) {
            add_string(b, "file", args.operands[0]);
            add_int(b, "sectors_good",
                    std::count(image.begin() + d64_base_size, image.end(), D64_ERR_OK));
            add_int(b, "sectors_bad", bad);
            json_builder_set_member_name(b, "bad_sectors");
            json_builder_begin_array(b);
            for (int t = 1; t <= TRACKS; t++)
                for (int s = 0; s < d64_sectors_of_track(t); s++) {
                    int code = d64_get_block_error_info(image.data(), t, s);
                    if (!d64_is_accessible_error(code))
                        continue;
                    json_builder_begin_object(b);
                    add_ts(b, t, s);
                    add_int(b, "code", code);
                    json_builder_end_object(b);
                }
            json_builder_end_array(b);
            cli_json_add_damaged_files(b, report);
            add_int(b, "exit_status", status);
        });
        return status;
    }
    cli_print_sector_map(stdout, codes_of(image));
    printf("\n");
    cli_print_damage(stdout, report);
    fflush(stdout);
    return status;
}

// ---------------------------------------------------------------- extract

int cli_run_extract(const cli_args &args)
{
    const std::string &path = args.operands[0];
    const std::string &name = args.operands[1];
    std::vector<uint8_t> image;
    if (int status = load_image(args, path, &image))
        return status;
    damage_report report;
    damage_report_make(image.data(), 1, &report);

    // The name as typed for the drive (PETSCII bytes) or as ls shows it.
    const damage_file *file = nullptr;
    for (const damage_file &f : report.files) {
        char listed[17];
        d64_normalize_listing_name((const uint8_t *)f.name, 16, listed);
        if (name == listed || name == damage_file_name(f)) {
            file = &f;
            break;
        }
    }
    if (!file)
        return fail(args, path + " holds no file \"" + name + "\" (see \"" + cli_program_name +
                              " ls " + path + "\")");

    std::string out;
    if (args.operands.size() > 2) {
        out = args.operands[2];
    } else {
        char *suggested = drive_files_suggested_file_name(
            damage_file_name(*file).c_str(), options_file_extensions_uppercase == 1);
        out = suggested;
        g_free(suggested);
        // The type's own extension where it is not a program.
        const char *type = filetypedescriptors[(file->type & 0x3F) % 5];
        if (strcmp(type, "PRG") != 0 && out.size() > 4) {
            gchar *ext = g_ascii_strdown(type, -1);
            out = out.substr(0, out.size() - 3) + ext;
            g_free(ext);
        }
        if (out[0] == '.') {
            cli_error("\"%s\" makes no file name: give OUT", name.c_str());
            return CLI_EXIT_USAGE;
        }
    }

    // Every block with data gives its bytes, suspect ones too: what was read.
    std::string data;
    size_t taken = 0;  // blocks whose bytes went into the file
    for (const damage_block &b : file->chain) {
        if (!damage_code_has_data(b.code))
            break;
        taken++;
        const uint8_t *block = image.data() + d64_sector_offset(b.track, b.sector);
        bool last = &b == &file->chain.back() && file->end == DAMAGE_CHAIN_WHOLE;
        int used = last ? (block[1] >= 2 ? block[1] - 1 : 0) : 254;
        data.append((const char *)block + 2, (size_t)used);
    }
    char *error = nullptr;
    if (!drive_files_write_file(out.c_str(), (const uint8_t *)data.data(), (int)data.size(),
                                args.overwrite, &error)) {
        cli_error("%s%s", error ? error : "cannot write the file",
                  error && g_str_has_suffix(error, "already exists")
                      ? " (use --overwrite to replace it)"
                      : "");
        g_free(error);
        return CLI_EXIT_FAILED;
    }
    bool damaged = damage_file_is_damaged(*file);
    if (damaged)
        fprintf(stderr, "%s: %s\n", cli_program_name, damage_file_line(*file).c_str());
    int status = damaged ? CLI_EXIT_SECTOR_ERRORS : CLI_EXIT_OK;
    if (args.json) {
        print_json(args, [&](JsonBuilder *b) {
            add_string(b, "file", path);
            add_string(b, "output", out);
            add_int(b, "bytes", (gint64)data.size());
            add_int(b, "blocks", (gint64)taken);
            json_builder_set_member_name(b, "bad_blocks");
            json_builder_begin_array(b);
            for (const damage_block &bad : file->bad) {
                json_builder_begin_object(b);
                add_ts(b, bad.track, bad.sector);
                add_int(b, "code", bad.code);
                json_builder_end_object(b);
            }
            json_builder_end_array(b);
            add_int(b, "unknown_blocks", file->unknown);
            add_int(b, "exit_status", status);
        });
    } else {
        printf("%s: %zu bytes (%zu %s)\n", out.c_str(), data.size(), taken,
               taken == 1 ? "block" : "blocks");
    }
    fflush(stdout);
    return status;
}

// ---------------------------------------------------------------- merge

int cli_run_merge(const cli_args &args)
{
    const std::string &out = args.output;
    if (!args.overwrite && g_file_test(out.c_str(), G_FILE_TEST_EXISTS)) {
        cli_error("%s already exists (use --overwrite to replace it)", out.c_str());
        return CLI_EXIT_FAILED;
    }
    gint64 start_us = g_get_monotonic_time();
    std::vector<std::vector<uint8_t>> dumps(args.operands.size());
    std::vector<const uint8_t *> images;
    for (size_t i = 0; i < dumps.size(); i++) {
        if (int status = load_image(args, args.operands[i], &dumps[i]))
            return status;
        images.push_back(dumps[i].data());
    }
    merge_result merged;
    merge_dumps(images, &merged);
    std::vector<std::string> names;
    for (const std::string &operand : args.operands) {
        gchar *shown = g_filename_display_name(operand.c_str());
        names.push_back(shown);
        g_free(shown);
    }

    bool refused = !merge_same_disk(merged) && !args.force;
    if (!merge_same_disk(merged)) {
        if (merged.other_header >= 0)
            fprintf(stderr, "%s: %s has another disk name or ID than %s\n", cli_program_name,
                    names[merged.other_header].c_str(), names[0].c_str());
        if (!merged.disagreements.empty()) {
            std::string list;
            for (const merge_disagreement &d : merged.disagreements)
                list += (list.empty() ? "" : ", ") + ts_text(d.track, d.sector) + " (" +
                        names[d.first] + ", " + names[d.second] + ")";
            fprintf(stderr, "%s: good sectors that disagree: %s\n", cli_program_name,
                    list.c_str());
        }
        if (refused)
            cli_error("the dumps look like reads of different disks: nothing merged (use "
                      "--force to merge them anyway)");
    }

    std::vector<std::string> files;
    damage_report report;
    damage_report_make(merged.image.data(), 1, &report);
    int status = CLI_EXIT_FAILED;
    if (!refused) {
        std::vector<std::string> lines;
        merge_log_lines(merged, names, &lines);
        if (!merge_same_disk(merged))
            lines.push_back("Merged with --force although the dumps look like other disks");
        lines.push_back("Damage report");
        damage_report_lines(report, &lines);
        std::string log = "Log file created by Dravlen client " DRAVLEN_VERSION "\n";
        for (const std::string &line : lines)
            log += line + "\n";
        filer_saved saved;
        if (filer_save_d64(out.c_str(), merged.image.data(), &log, 0, 0, &saved) &&
            saved.log == 1 && saved.md5 != 0) {
            files = {out, out + ".log"};
            if (saved.md5 == 1)
                files.push_back(out + ".md5");
            status = merged.sectors_bad > 0 ? CLI_EXIT_SECTOR_ERRORS : CLI_EXIT_OK;
            if (!args.json)
                for (const merge_vote &v : merged.majority)
                    fprintf(stderr,
                            "t/s %d/%d: byte-wise majority of %d checksum-failed reads, still "
                            "marked as checksum failed\n",
                            v.track, v.sector, v.reads);
            cli_print_written(files);
            fprintf(stderr, "%d sectors good, %d with errors\n", merged.sectors_good,
                    merged.sectors_bad);
            cli_print_damage(stderr, report);
        } else {
            cli_error("cannot write %s: %s", out.c_str(),
                      saved.error.empty() ? "failed" : saved.error.c_str());
        }
    }
    double elapsed = (g_get_monotonic_time() - start_us) / 1e6;
    if (args.json) {
        print_json(args, [&](JsonBuilder *b) {
            json_builder_set_member_name(b, "outcome");
            json_builder_add_string_value(b, status == CLI_EXIT_FAILED ? "failed" : "succeeded");
            json_builder_set_member_name(b, "elapsed_seconds");
            json_builder_add_double_value(b, elapsed);
            cli_json_add_files(b, "files", files);
            json_builder_set_member_name(b, "same_disk");
            json_builder_add_boolean_value(b, merge_same_disk(merged));
            json_builder_set_member_name(b, "disagreeing_sectors");
            json_builder_begin_array(b);
            for (const merge_disagreement &d : merged.disagreements) {
                json_builder_begin_object(b);
                add_ts(b, d.track, d.sector);
                json_builder_set_member_name(b, "dumps");
                json_builder_begin_array(b);
                json_builder_add_string_value(b, names[d.first].c_str());
                json_builder_add_string_value(b, names[d.second].c_str());
                json_builder_end_array(b);
                json_builder_end_object(b);
            }
            json_builder_end_array(b);
            if (status != CLI_EXIT_FAILED) {
                add_int(b, "sectors_good", merged.sectors_good);
                add_int(b, "sectors_bad", merged.sectors_bad);
                json_builder_set_member_name(b, "majority_sectors");
                json_builder_begin_array(b);
                for (const merge_vote &v : merged.majority) {
                    json_builder_begin_object(b);
                    add_ts(b, v.track, v.sector);
                    add_int(b, "reads", v.reads);
                    add_int(b, "split_bytes", v.split_bytes);
                    json_builder_end_object(b);
                }
                json_builder_end_array(b);
                cli_json_add_damaged_files(b, report);
            }
            add_int(b, "exit_status", status);
        });
    }
    return status;
}
