// A HEIF file's boxes walked, its primary grid of tiles found, and a file of
// one tile made for the decoder.
#include "imaging/reading/heif_grid.h"

#include <algorithm>
#include <map>

#include "imaging/reading/jpeg_reader.h"
#include "imaging/reading/read_limits.h"
#include "imaging/system/byte_order.h"

namespace sheetsmith {
namespace {

// Reads big-endian numbers from a box's content, failing once past its end.
class Fields {
 public:
  Fields(std::string_view bytes, std::size_t at, std::size_t end)
      : bytes_(bytes), at_(at), end_(end) {}
  bool ok() const { return ok_; }
  std::size_t at() const { return at_; }
  std::uint64_t Read(int size) {
    if (!ok_ || size < 0 || size > 8 || end_ - at_ < static_cast<std::size_t>(size)) {
      ok_ = false;
      return 0;
    }
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
      value = (value << 8) | static_cast<unsigned char>(bytes_[at_ + static_cast<std::size_t>(i)]);
    }
    at_ += static_cast<std::size_t>(size);
    return value;
  }
  std::string_view Take(std::size_t size) {
    if (!ok_ || end_ - at_ < size) {
      ok_ = false;
      return {};
    }
    const std::string_view taken = bytes_.substr(at_, size);
    at_ += size;
    return taken;
  }

 private:
  std::string_view bytes_;
  std::size_t at_;
  std::size_t end_;
  bool ok_ = true;
};

struct Extent {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};
struct Location {
  int method = 0;  // 0: in the file, 1: in the meta box's idat
  std::vector<Extent> extents;
};

std::string Box(std::string_view type, std::string_view content) {
  const std::size_t size = content.size() + 8;
  std::string box;
  box.reserve(size);
  for (int shift = 24; shift >= 0; shift -= 8) box.push_back(static_cast<char>(size >> shift));
  box.append(type);
  box.append(content);
  return box;
}

std::string FullBox(std::string_view type, std::string_view content) {
  return Box(type, std::string(4, '\0') + std::string(content));
}

std::string Big(std::uint64_t value, int size) {
  std::string bytes;
  for (int shift = (size - 1) * 8; shift >= 0; shift -= 8) {
    bytes.push_back(static_cast<char>(value >> shift));
  }
  return bytes;
}

}  // namespace

bool NextHeifBox(std::string_view bytes, std::size_t at, HeifBox& box, bool& cutShort) {
  if (at + 8 > bytes.size()) {
    cutShort = true;
    return false;
  }
  std::uint64_t size = ReadBigEndian32(bytes, at);
  box.type = bytes.substr(at + 4, 4);
  std::size_t header = 8;
  if (size == 1) {
    if (at + 16 > bytes.size()) {
      cutShort = true;
      return false;
    }
    size = (std::uint64_t{ReadBigEndian32(bytes, at + 8)} << 32) | ReadBigEndian32(bytes, at + 12);
    header = 16;
  } else if (size == 0) {
    size = bytes.size() - at;  // to the end of the file
  }
  if (size < header) return false;
  if (size > bytes.size() - at) {
    cutShort = true;
    return false;
  }
  box.content = at + header;
  box.end = at + static_cast<std::size_t>(size);
  return true;
}

std::optional<HeifGrid> FindHeifGrid(std::string_view file,
                                     std::optional<HeifGridSize>* pictureSize) {
  if (pictureSize) pictureSize->reset();
  bool cutShort = false;
  HeifBox meta;
  std::size_t at = 0;
  for (;; at = meta.end) {
    if (at >= file.size() || !NextHeifBox(file, at, meta, cutShort)) return std::nullopt;
    if (meta.type == "meta") break;
  }
  std::uint32_t primary = 0;
  std::map<std::uint32_t, std::string_view> types;
  std::vector<std::uint32_t> tileIds;
  std::map<std::uint32_t, std::vector<std::uint32_t>> properties;  // item: property indices
  std::vector<HeifBox> propertyBoxes;
  std::map<std::uint32_t, Location> locations;
  bool hasAuxiliary = false;
  std::string_view idat;
  HeifBox box;
  for (at = meta.content + 4; at < meta.end; at = box.end) {
    if (!NextHeifBox(file.substr(0, meta.end), at, box, cutShort)) return std::nullopt;
    Fields f(file, box.content, box.end);
    const std::uint64_t version = f.Read(1);
    f.Read(3);  // flags
    if (box.type == "pitm") {
      primary = static_cast<std::uint32_t>(f.Read(version == 0 ? 2 : 4));
    } else if (box.type == "iinf") {
      f.Read(version == 0 ? 2 : 4);  // the count; the entries say it again
      HeifBox entry;
      for (std::size_t e = f.at(); f.ok() && e < box.end; e = entry.end) {
        if (!NextHeifBox(file.substr(0, box.end), e, entry, cutShort)) return std::nullopt;
        Fields g(file, entry.content, entry.end);
        const std::uint64_t entryVersion = g.Read(1);
        g.Read(3);
        if (entry.type != "infe" || entryVersion < 2) continue;
        const auto id = static_cast<std::uint32_t>(g.Read(entryVersion == 2 ? 2 : 4));
        g.Read(2);  // protection
        const std::string_view type = g.Take(4);
        if (!g.ok()) return std::nullopt;
        types[id] = type;
      }
    } else if (box.type == "iref") {
      HeifBox reference;
      for (std::size_t r = f.at(); f.ok() && r < box.end; r = reference.end) {
        if (!NextHeifBox(file.substr(0, box.end), r, reference, cutShort)) return std::nullopt;
        Fields g(file, reference.content, reference.end);
        const int idSize = version == 0 ? 2 : 4;
        const auto from = static_cast<std::uint32_t>(g.Read(idSize));
        const std::uint64_t count = g.Read(2);
        if (reference.type == "auxl") hasAuxiliary = true;
        if (reference.type != "dimg" || from != primary) continue;
        for (std::uint64_t i = 0; i < count && g.ok(); ++i) {
          tileIds.push_back(static_cast<std::uint32_t>(g.Read(idSize)));
        }
        if (!g.ok()) return std::nullopt;
      }
    } else if (box.type == "iprp") {
      HeifBox part;
      for (std::size_t p = box.content; p < box.end; p = part.end) {
        if (!NextHeifBox(file.substr(0, box.end), p, part, cutShort)) return std::nullopt;
        if (part.type == "ipco") {
          HeifBox property;
          for (std::size_t q = part.content; q < part.end; q = property.end) {
            if (!NextHeifBox(file.substr(0, part.end), q, property, cutShort)) return std::nullopt;
            propertyBoxes.push_back(property);
          }
        } else if (part.type == "ipma") {
          Fields g(file, part.content, part.end);
          const std::uint64_t ipmaVersion = g.Read(1);
          const std::uint64_t flags = g.Read(3);
          const std::uint64_t entries = g.Read(4);
          for (std::uint64_t i = 0; i < entries && g.ok(); ++i) {
            const auto id = static_cast<std::uint32_t>(g.Read(ipmaVersion < 1 ? 2 : 4));
            const std::uint64_t count = g.Read(1);
            for (std::uint64_t j = 0; j < count && g.ok(); ++j) {
              const std::uint64_t value = g.Read((flags & 1) ? 2 : 1);
              properties[id].push_back(
                  static_cast<std::uint32_t>(value & ((flags & 1) ? 0x7FFF : 0x7F)));
            }
          }
          if (!g.ok()) return std::nullopt;
        }
      }
    } else if (box.type == "iloc") {
      const std::uint64_t sizes = f.Read(1);
      const std::uint64_t more = f.Read(1);
      const int offsetSize = static_cast<int>(sizes >> 4);
      const int lengthSize = static_cast<int>(sizes & 0xF);
      const int baseSize = static_cast<int>(more >> 4);
      const int indexSize = version >= 1 ? static_cast<int>(more & 0xF) : 0;
      const std::uint64_t count = f.Read(version < 2 ? 2 : 4);
      for (std::uint64_t i = 0; i < count && f.ok(); ++i) {
        const auto id = static_cast<std::uint32_t>(f.Read(version < 2 ? 2 : 4));
        Location location;
        if (version >= 1) location.method = static_cast<int>(f.Read(2) & 0xF);
        f.Read(2);  // data reference
        const std::uint64_t base = f.Read(baseSize);
        const std::uint64_t extents = f.Read(2);
        for (std::uint64_t j = 0; j < extents && f.ok(); ++j) {
          f.Read(indexSize);
          Extent extent;
          extent.offset = base + f.Read(offsetSize);
          extent.length = f.Read(lengthSize);
          location.extents.push_back(extent);
        }
        locations[id] = std::move(location);
      }
    } else if (box.type == "idat") {
      idat = file.substr(box.content, box.end - box.content);
    }
    if (!f.ok()) return std::nullopt;
  }

  // The bytes of an item: its extents, from the file or the idat.
  const auto itemData = [&](std::uint32_t id, std::string& out) {
    const auto found = locations.find(id);
    if (found == locations.end() || found->second.extents.empty()) return false;
    const std::string_view source = found->second.method == 0   ? file
                                    : found->second.method == 1 ? idat
                                                                : std::string_view();
    if (source.empty()) return false;
    for (const Extent& extent : found->second.extents) {
      // A length of 0 is "to the end", which no tile of a grid needs.
      if (extent.length == 0 || extent.offset > source.size() ||
          extent.length > source.size() - extent.offset ||
          out.size() + extent.length > kMaxCodedFileBytes) {
        return false;
      }
      out.append(source.substr(static_cast<std::size_t>(extent.offset),
                               static_cast<std::size_t>(extent.length)));
    }
    return true;
  };
  const auto property = [&](std::uint32_t index) -> const HeifBox* {
    return index >= 1 && index <= propertyBoxes.size() ? &propertyBoxes[index - 1] : nullptr;
  };

  if (types[primary] != "grid") return std::nullopt;
  HeifGrid grid;
  std::string description;
  if (!itemData(primary, description)) return std::nullopt;
  Fields d(description, 0, description.size());
  d.Read(1);
  const int fieldSize = (d.Read(1) & 1) ? 4 : 2;
  grid.rows = static_cast<int>(d.Read(1)) + 1;
  grid.columns = static_cast<int>(d.Read(1)) + 1;
  const std::uint64_t width = d.Read(fieldSize);
  const std::uint64_t height = d.Read(fieldSize);
  if (!d.ok()) return std::nullopt;
  for (std::uint32_t index : properties[primary]) {
    const HeifBox* p = property(index);
    if (p && p->type == "irot" && p->content < p->end) {
      grid.anticlockwiseTurns = static_cast<unsigned char>(file[p->content]) & 3;
    }
  }
  if (pictureSize) {
    // Clamped so that a claim of billions of pixels stays one of too many.
    *pictureSize = HeifGridSize{static_cast<int>(std::min<std::uint64_t>(width, 1u << 30)),
                                static_cast<int>(std::min<std::uint64_t>(height, 1u << 30)),
                                grid.anticlockwiseTurns};
  }
  if (hasAuxiliary || width == 0 || height == 0 ||
      width > static_cast<std::uint64_t>(kMaxPhotoSide) ||
      height > static_cast<std::uint64_t>(kMaxPhotoSide) ||
      tileIds.size() != static_cast<std::size_t>(grid.rows) * grid.columns) {
    return std::nullopt;
  }
  grid.width = static_cast<int>(width);
  grid.height = static_cast<int>(height);
  for (std::uint32_t index : properties[primary]) {
    const HeifBox* p = property(index);
    if (!p) return std::nullopt;
    Fields g(file, p->content, p->end);
    if (p->type == "clap") return std::nullopt;
    if (p->type == "irot") grid.anticlockwiseTurns = static_cast<int>(g.Read(1) & 3);
    if (p->type == "imir") grid.mirror = static_cast<int>(g.Read(1) & 1);
    if (p->type == "colr" && g.Take(4) == "nclx")
      grid.colr = file.substr(p->content - 8, p->end - p->content + 8);
    if (!g.ok()) return std::nullopt;
  }
  for (std::uint32_t id : tileIds) {
    if (types[id] != "hvc1") return std::nullopt;
    HeifGrid::Tile tile;
    int tileWidth = 0;
    int tileHeight = 0;
    for (std::uint32_t index : properties[id]) {
      const HeifBox* p = property(index);
      if (!p) return std::nullopt;
      if (p->type == "hvcC") {
        tile.config = file.substr(p->content - 8, p->end - p->content + 8);
      } else if (p->type == "colr") {
        tile.colr = file.substr(p->content - 8, p->end - p->content + 8);
      } else if (p->type == "ispe") {
        Fields g(file, p->content, p->end);
        g.Read(4);
        tileWidth = static_cast<int>(std::min<std::uint64_t>(g.Read(4), 1u << 20));
        tileHeight = static_cast<int>(std::min<std::uint64_t>(g.Read(4), 1u << 20));
        if (!g.ok()) return std::nullopt;
      } else if (p->type == "irot" || p->type == "imir" || p->type == "clap") {
        return std::nullopt;
      }
    }
    if (tile.config.size() <= 8 || tileWidth <= 0 || tileHeight <= 0 || !itemData(id, tile.data)) {
      return std::nullopt;
    }
    if (grid.tiles.empty()) {
      grid.tileWidth = tileWidth;
      grid.tileHeight = tileHeight;
    } else if (tileWidth != grid.tileWidth || tileHeight != grid.tileHeight) {
      return std::nullopt;
    }
    grid.tiles.push_back(std::move(tile));
  }
  // The tiles must cover the picture, and not by more than a tile.
  const auto covers = [](int tiles, int tile, int picture) {
    const long long all = static_cast<long long>(tiles) * tile;
    return all >= picture && all - tile < picture;
  };
  if (!covers(grid.columns, grid.tileWidth, grid.width) ||
      !covers(grid.rows, grid.tileHeight, grid.height)) {
    return std::nullopt;
  }
  // Within the limits of a photo decoded whole, and tiles of a phone's kind:
  // a tile's planes are meant to be small beside the picture.
  if (static_cast<std::uint64_t>(grid.width) * static_cast<std::uint64_t>(grid.height) >
          kMaxWholeImagePixels ||
      grid.tileWidth > kMaxGridTileSide || grid.tileHeight > kMaxGridTileSide) {
    return std::nullopt;
  }
  return grid;
}

std::string SingleTileFile(const HeifGrid& grid, const HeifGrid::Tile& tile) {
  const std::string ftyp = Box("ftyp", std::string("heic\0\0\0\0mif1heic", 16));
  const std::string hdlr = FullBox("hdlr", std::string("\0\0\0\0pict", 8) + std::string(13, '\0'));
  const std::string pitm = FullBox("pitm", Big(1, 2));
  const std::string infe = Box(
      "infe", std::string("\x02\0\0\0", 4) + Big(1, 2) + Big(0, 2) + "hvc1" + std::string(1, '\0'));
  const std::string iinf = FullBox("iinf", Big(1, 2) + infe);
  const std::string ispe = FullBox("ispe", Big(static_cast<std::uint64_t>(grid.tileWidth), 4) +
                                               Big(static_cast<std::uint64_t>(grid.tileHeight), 4));
  const std::string_view colr = tile.colr.empty() ? grid.colr : tile.colr;
  const std::string ipco = Box("ipco", std::string(tile.config) + ispe + std::string(colr));
  // Item 1: the decoder configuration (essential), the size and the colours.
  const std::string ipma =
      FullBox("ipma", Big(1, 4) + Big(1, 2) +
                          (colr.empty() ? Big(2, 1) + "\x81\x02" : Big(3, 1) + "\x81\x02\x03"));
  const std::string iprp = Box("iprp", ipco + ipma);
  const auto iloc = [&](std::uint64_t dataAt) {
    return FullBox("iloc", std::string("\x44\x00", 2) + Big(1, 2) + Big(1, 2) + Big(0, 2) +
                               Big(1, 2) + Big(dataAt, 4) + Big(tile.data.size(), 4));
  };
  // The iloc is the same size whatever offset it holds.
  const std::size_t metaSize = FullBox("meta", hdlr + pitm + iloc(0) + iinf + iprp).size();
  const std::string meta =
      FullBox("meta", hdlr + pitm + iloc(ftyp.size() + metaSize + 8) + iinf + iprp);
  return ftyp + meta + Box("mdat", tile.data);
}

}  // namespace sheetsmith
