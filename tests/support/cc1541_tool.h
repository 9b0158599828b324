// Test helpers around the cc1541 disk tool: build D64 images from a list of
// files and read back the directory that cc1541 prints for an image.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct cc1541_file {
    std::string name;           // PETSCII bytes, handed to cc1541 as #xx escapes
    std::string type = "PRG";   // PRG, SEQ, USR, REL or DEL
    bool locked = false;
    bool open = false;          // not closed: listed with a splat
    size_t data_size = 100;     // bytes of file contents
    int blocks = -1;            // block count for the directory, -1: the real one
};

struct cc1541_entry {
    int blocks;
    std::string name;    // between the quotes, as printed
    std::string after;   // text after the closing quote, padding removed
    bool splat;
    std::string type;    // lower case, as printed ("prg")
    bool locked;
};

struct cc1541_listing {
    std::string diskname;  // between the quotes, padding included
    std::string id;
    std::vector<cc1541_entry> entries;
    int blocks_free = -1;
};

// 1 if the cc1541 program can be started.
int cc1541_available();
// Runs cc1541 with the arguments; 1 if it exited with status 0.
int cc1541_run(const std::vector<std::string> &args, std::string *out, std::string *err);
// Builds a new image at path with the files (contents are filler bytes
// written beside the image); with g64_path, also the raw GCR form of the
// same disk. 1 on success.
int cc1541_build_d64(const std::string &path, const std::string &diskname, const std::string &id,
                     const std::vector<cc1541_file> &files, std::string *error = nullptr,
                     const std::string &g64_path = std::string());
// Parses what cc1541 prints for the image. 1 on success.
int cc1541_read_listing(const std::string &path, cc1541_listing *listing, std::string *error = nullptr);
// What makes `lines` (a listing as dir prints it, one string per line)
// differ from cc1541's listing of the same disk; "" when they agree.  cc1541
// prints plain letters in lower case, dir as a C64 does: names compare
// without case.
std::string cc1541_listing_fault(const std::vector<std::string> &lines,
                                 const cc1541_listing &expected);
// Runs cbmconvert to extract every file of the image into the folder (made
// if missing); 1 if it exited with status 0.
int cbmconvert_extract(const std::string &image, const std::string &folder);
// The block chain (track, sector pairs) of every file of a sound image's
// directory, in directory order.
std::vector<std::vector<std::pair<int, int>>> cc1541_chains(const std::string &d64);
// "#41#42..." notation of PETSCII bytes for cc1541 name arguments.
std::string cc1541_escape(const std::string &petscii);
// How cc1541 prints a PETSCII byte in its ASCII output, for the characters
// the cross-check tests use: unshifted letters lower case, shifted upper
// case, shifted space as space.
std::string cc1541_petscii_to_ascii(const std::string &petscii);

// A fresh temporary folder and its removal with everything in it.
std::string cc1541_temp_dir_new();
void cc1541_temp_dir_remove(const std::string &path);
// Whole-file read; 1 on success.
int cc1541_read_file(const std::string &path, std::string *contents);
