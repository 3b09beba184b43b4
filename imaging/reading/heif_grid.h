// The boxes of a HEIF file, read as far as the photo reader needs them: the
// walk over boxes, and a phone's primary image stored as a grid of HEVC tiles
// (ISO/IEC 23008-12, 6.6.2.3), found so that its tiles can be decoded one at
// a time instead of all at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sheetsmith {

// A box within a file's bytes: its type, and where its content starts and
// where it ends.
struct HeifBox {
  std::string_view type;
  std::size_t content = 0;
  std::size_t end = 0;
};

// The box at `at` in `bytes`. False when its header does not fit or is
// damaged; `cutShort` is set when the box claims more than there is.
bool NextHeifBox(std::string_view bytes, std::size_t at, HeifBox& box, bool& cutShort);

// A grid of HEVC tiles, each with its decoder configuration (its hvcC box,
// header included) and its coded data.
struct HeifGrid {
  struct Tile {
    std::string_view config;
    std::string_view colr;  // its colour box, header included, when it has one
    std::string data;
  };
  int rows = 0;
  int columns = 0;
  int width = 0;  // the picture the tiles are cut to
  int height = 0;
  int tileWidth = 0;
  int tileHeight = 0;
  std::vector<Tile> tiles;  // row by row
  // The grid's nclx colour box, header included, when it has one: the
  // decoder turns a tile's YCbCr into RGB by it when the tile has none.
  std::string_view colr;
  // The grid's own transformations: irot's quarter turns anticlockwise, and
  // imir's mirror (0 top to bottom, 1 left to right, -1 none), the turn first.
  int anticlockwiseTurns = 0;
  int mirror = -1;
};

// The largest tile side decoded a tile at a time (phones use 512).
inline constexpr int kMaxGridTileSide = 4096;

// The primary image of the file, when it is a grid of equal HEVC tiles whose
// data lies in the file (or, for the grid's own description, in the meta
// box's idat), of tiles of at most kMaxGridTileSide, of a picture within
// kMaxWholeImagePixels, and which has no clean aperture and no alpha image;
// nullopt for every other file, which is decoded whole.
// `pictureSize`, when given, is set to the grid's picture (width, height)
// whenever the primary image is a grid whose description could be read,
// whether or not it can be decoded a tile at a time, so that a grid claiming
// another size than its image can be refused before any decoder makes it.
struct HeifGridSize {
  int width = 0;
  int height = 0;
  int anticlockwiseTurns = 0;
};
std::optional<HeifGrid> FindHeifGrid(std::string_view file,
                                     std::optional<HeifGridSize>* pictureSize = nullptr);

// A HEIF file whose only image is the tile, for the decoder.
std::string SingleTileFile(const HeifGrid& grid, const HeifGrid::Tile& tile);

}  // namespace sheetsmith
