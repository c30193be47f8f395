// Shared by the metafile change test: the pictures GDI records for it
// (wmf_fuzz_seeds.cpp) and the record-by-record changes made to them
// (wmf_fuzz_changes.cpp). An input is fixed by its seed and its index alone,
// so every finding can be made again from those two numbers.
#pragma once

#include <stdint.h>
#include <string>
#include <vector>

typedef std::string Bytes;

// A picture recorded with GDI, as the decoder takes it: a placeable WMF or
// an EMF. `embedded`: a WMF whose leading comments carry an EMF.
struct Seed {
    std::string name;
    bool wmf;
    bool embedded;
    Bytes bytes;
};

// Records the seeds through the platform's recorders. False when one of
// them cannot be made.
bool RecordSeeds(std::vector<Seed> *seeds);

// An EMF drawn with stock objects only, recorded by GDI: its handle table
// holds only the slot of the metafile itself.
Bytes RecordStockEmf();

// Input `index` of seeds[which]; index 0 is the seed itself. Others of the
// same format lend records.
Bytes MakeInput(const std::vector<Seed> &seeds, size_t which, uint32_t index);

// Whether putting every coordinate, extent and transform of the seed into
// the ranges the changes keep them in leaves it as GDI recorded it (a
// carried EMF included); `why` names the first record that changes.
bool ClampLeavesSeed(const Seed &seed, std::string *why);

// Whether the bytes are framed as the changes keep them: record sizes, the
// WMF header's size and largest record, the EMF header's byte and record
// counts and the placeable checksum all agree with the records. `why` says
// what does not.
bool Framed(const Seed &seed, const Bytes &b, std::string *why);

// A 32-bit FNV-1a hash, for the inputs' random streams.
uint32_t HashName(const std::string &name);
