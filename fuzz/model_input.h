// How a LoadModel fuzz input reads: the first byte picks one file of the
// sample character (below 128) or of its twin made of XML files (from 128
// on), the second a mutation, and the rest are the mutation's arguments.
// Shared by the fuzzer, the seed writer and the tests that replay the
// fuzzer's reproducers, so that an input means the same to each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rwfuzz {

constexpr const char kModelName[] = "hero.cfg";
// The sample character with its skeleton, animations, gear mesh and
// materials as XML files, made by the fuzzer from the binary ones.
constexpr const char kXmlModelName[] = "hero-fuzz-xml.cfg";
constexpr uint8_t kXmlCharacter = 128;

constexpr uint8_t kExtendedFirst = 240;

enum class Mutation : uint8_t {
  Keep,       // the file as generated
  Truncate,   // u32 length, taken modulo the file size + 1
  FlipBits,   // (u32 offset, u8 bit) groups
  SwapBytes,  // (u32 offset, u32 offset) groups
  Replace,    // the rest of the input is the whole file
  Overwrite,  // u32 offset, then bytes written from there on, growing the file if need be
  Count,
  // Picked by second bytes kExtendedFirst and up, so that older inputs keep
  // their meaning: the file's limits reached from a few bytes of input.
  Chain = kExtendedFirst,  // u16 bones (1 to 2048), then FlipBits groups: a skeleton in the
                           // file's form (binary or XML) whose bones hang in one chain
  Repeat,                  // u32 offset, u8 length (1 to 64), u32 count: the slice at
                           // offset inserted `count` more times there, up to 4 MiB
  ExtendedEnd
};

inline uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void AppendU32(std::string& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

// A skeleton of `bones` bones, each the only child of the one before, in
// the binary layout or as XML.
std::string ChainSkeleton(int bones, bool xml);

// The file after the mutation that `input` names: input[0] picks the
// mutation, the rest of `input` are its arguments (missing bytes read as
// zero).
std::string Mutate(const std::string& original, const uint8_t* input, size_t size);

// A file of the sample character, read as the module reads it.
bool ReadWholeFile(const std::string& path, std::string& bytes);

// The character's files in a fixed order: its configuration, the files the
// configuration names, then the textures its materials name. Empty when the
// folder does not hold a loadable sample character.
std::vector<std::string> ModelFiles(const std::string& dir,
                                    const std::string& configName = kModelName);

// Writes the XML twin of the sample character into `dir`, which holds the
// sample: its skeleton, animations, gear mesh and materials saved again as
// XML by Cal3D's own saver, and kXmlModelName naming them. The body mesh
// stays binary, so that a load takes milliseconds, not a second.
bool WriteXmlTwin(const std::string& dir);

}  // namespace rwfuzz
