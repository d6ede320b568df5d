// Internal to the colour conversion: the row kernels of each instruction set.
// A kernel converts whole blocks of pairs from the start of the run and
// returns how many pairs it did; the caller finishes the rest with the scalar
// row. No kernel reads or writes a byte beyond the pairs it was given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tev::color {

using Rgb24ToYuy2Row = size_t (*)(const uint8_t* rgb, uint8_t* yuy2, size_t pairs);
using Yuy2ToRgb24Row = size_t (*)(const uint8_t* yuy2, uint8_t* rgb, size_t pairs);

// The definitions, pair by pair; they always do all `pairs`.
size_t Rgb24ToYuy2RowScalar(const uint8_t* rgb, uint8_t* yuy2, size_t pairs);
size_t Yuy2ToRgb24RowScalar(const uint8_t* yuy2, uint8_t* rgb, size_t pairs);

size_t Rgb24ToYuy2RowSse2(const uint8_t* rgb, uint8_t* yuy2, size_t pairs);
size_t Yuy2ToRgb24RowSse2(const uint8_t* yuy2, uint8_t* rgb, size_t pairs);
size_t Rgb24ToYuy2RowSsse3(const uint8_t* rgb, uint8_t* yuy2, size_t pairs);
size_t Yuy2ToRgb24RowSsse3(const uint8_t* yuy2, uint8_t* rgb, size_t pairs);
size_t Rgb24ToYuy2RowAvx2(const uint8_t* rgb, uint8_t* yuy2, size_t pairs);
size_t Yuy2ToRgb24RowAvx2(const uint8_t* yuy2, uint8_t* rgb, size_t pairs);
size_t Rgb24ToYuy2RowAvx512Vbmi(const uint8_t* rgb, uint8_t* yuy2, size_t pairs);
size_t Yuy2ToRgb24RowAvx512Vbmi(const uint8_t* yuy2, uint8_t* rgb, size_t pairs);

// The widest rows the CPU flags allow, chosen when a conversion starts.
struct ColorKernels {
  Rgb24ToYuy2Row forward;
  Yuy2ToRgb24Row inverse;
};
ColorKernels ChooseColorKernels();

// A whole run through `row`, the remainder through the scalar row.
void ConvertRgb24ToYuy2With(Rgb24ToYuy2Row row, const uint8_t* rgb, uint8_t* yuy2, size_t pairs);
void ConvertYuy2ToRgb24With(Yuy2ToRgb24Row row, const uint8_t* yuy2, uint8_t* rgb, size_t pairs);

}  // namespace tev::color
