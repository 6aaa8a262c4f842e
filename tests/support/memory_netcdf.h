// A netCDF file held in memory, for the tests and fuzz targets of the
// netCDF readers: named one-dimensional variables of whole numbers, each
// with a declared length that may exceed the values it holds (as a damaged
// file may declare more than it has), and numeric and text attributes of
// the variables and the file. It keeps the contract of the plugin-backed
// files: reads are checked against the declared length first (by
// NetcdfFile), a value that does not fit the asked type fails, and values
// past those held cannot be read.
//
// Its variables also travel as bytes (a fuzz input, a seed written from a
// real file): "RGNC", then per variable a name length (1 byte) and name, a
// netCDF type (1 byte: byte, short, int or unsigned short), the declared
// length and the number of values held (4 bytes each, little-endian) and
// the values, 1, 2 or 4 bytes each, little-endian.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "geo/netcdf_file.h"

namespace roamgrid::testing {

class MemoryNetcdfFile : public NetcdfFile {
 public:
  struct Variable {
    std::string name;
    NetcdfType type = NetcdfType::kInt;
    size_t declared = 0;  // the length the file declares
    std::vector<int64_t> values;
  };

  // A variable declaring as many values as it holds.
  void Add(std::string name, NetcdfType type, std::vector<int64_t> values) {
    const size_t length = values.size();
    variables_.push_back({std::move(name), type, length, std::move(values)});
  }
  void Add(Variable variable) { variables_.push_back(std::move(variable)); }
  Variable* Find(const std::string& name) {
    for (Variable& variable : variables_) {
      if (variable.name == name) return &variable;
    }
    return nullptr;
  }
  const std::vector<Variable>& variables() const { return variables_; }

  std::vector<std::string> VariableNames() override {
    std::vector<std::string> names;
    for (const Variable& variable : variables_) names.push_back(variable.name);
    return names;
  }
  std::optional<NetcdfVariable> FindVariable(const std::string& name) override {
    for (size_t at = 0; at < variables_.size(); ++at) {
      if (variables_[at].name == name) {
        return NetcdfVariable{int(at), variables_[at].type, {variables_[at].declared}};
      }
    }
    Fail(name + ": NetCDF: Variable not found");
    return std::nullopt;
  }
  std::optional<size_t> DimensionLength(const std::string& name) override {
    if (const Variable* variable = Find(name)) return variable->declared;
    return std::nullopt;
  }
  // Attributes of the variable called `variable` ("" for the file).
  void SetAttribute(const std::string& variable, const std::string& name, double value) {
    numbers_[{variable, name}] = value;
  }
  void SetAttribute(const std::string& variable, const std::string& name, std::string text) {
    texts_[{variable, name}] = std::move(text);
  }
  std::optional<double> DoubleAttribute(int variable, const std::string& name) override {
    const auto found = numbers_.find({OwnerName(variable), name});
    if (found == numbers_.end()) {
      Fail(name + ": NetCDF: Attribute not found");
      return std::nullopt;
    }
    return found->second;
  }
  std::optional<std::string> TextAttribute(int variable, const std::string& name,
                                           size_t maxBytes) override {
    const auto found = texts_.find({OwnerName(variable), name});
    if (found == texts_.end() || found->second.size() > maxBytes) {
      Fail(name + ": NetCDF: Attribute not found or too long");
      return std::nullopt;
    }
    return found->second;
  }

  // The file as bytes, and back; nothing when the bytes are no such file.
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> bytes{'R', 'G', 'N', 'C'};
    const auto put = [&](uint64_t value, int width) {
      for (int at = 0; at < width; ++at) bytes.push_back(uint8_t(value >> (8 * at)));
    };
    for (const Variable& variable : variables_) {
      bytes.push_back(uint8_t(variable.name.size()));
      bytes.insert(bytes.end(), variable.name.begin(), variable.name.end());
      bytes.push_back(uint8_t(variable.type));
      put(variable.declared, 4);
      put(variable.values.size(), 4);
      for (int64_t value : variable.values) put(uint64_t(value), Width(variable.type));
    }
    return bytes;
  }
  static std::optional<MemoryNetcdfFile> FromBytes(const uint8_t* data, size_t size) {
    if (size < 4 || std::memcmp(data, "RGNC", 4) != 0) return std::nullopt;
    MemoryNetcdfFile file;
    size_t at = 4;
    const auto get = [&](int width, uint64_t& value) {
      if (size - at < size_t(width)) return false;
      value = 0;
      for (int b = 0; b < width; ++b) value |= uint64_t(data[at + size_t(b)]) << (8 * b);
      at += size_t(width);
      return true;
    };
    while (at < size) {
      Variable variable;
      uint64_t length = 0;
      if (!get(1, length) || size - at < length) return std::nullopt;
      variable.name.assign(reinterpret_cast<const char*>(data + at), size_t(length));
      at += size_t(length);
      uint64_t type = 0;
      uint64_t declared = 0;
      uint64_t held = 0;
      if (!get(1, type) || !get(4, declared) || !get(4, held)) return std::nullopt;
      variable.type = NetcdfType(type);
      const int width = Width(variable.type);
      if (width == 0 || held > (size - at) / size_t(width)) return std::nullopt;
      variable.declared = size_t(declared);
      variable.values.resize(size_t(held));
      for (int64_t& value : variable.values) {
        uint64_t raw = 0;
        get(width, raw);
        // Signed types are sign-extended from the stored width.
        const int shift = 64 - 8 * width;
        value =
            variable.type == NetcdfType::kUShort ? int64_t(raw) : int64_t(raw << shift) >> shift;
      }
      file.variables_.push_back(std::move(variable));
    }
    return file;
  }

 protected:
  bool ReadChecked(const NetcdfVariable& variable, size_t start, size_t count, ValueType type,
                   void* out) override {
    const Variable& held = variables_.at(size_t(variable.id));
    if (start + count > held.values.size()) return Fail("values: NetCDF: HDF error");
    for (size_t at = 0; at < count; ++at) {
      const int64_t value = held.values[start + at];
      if (!Store(value, type, out, at)) {
        return Fail("values: NetCDF: Numeric conversion not representable");
      }
    }
    return true;
  }

 private:
  static int Width(NetcdfType type) {
    switch (type) {
      case NetcdfType::kByte:
        return 1;
      case NetcdfType::kShort:
      case NetcdfType::kUShort:
        return 2;
      case NetcdfType::kInt:
        return 4;
      default:
        return 0;
    }
  }
  template <typename T>
  static bool Put(int64_t value, void* out, size_t at) {
    if (value < int64_t(std::numeric_limits<T>::min()) ||
        value > int64_t(std::numeric_limits<T>::max())) {
      return false;
    }
    static_cast<T*>(out)[at] = T(value);
    return true;
  }
  static bool Store(int64_t value, ValueType type, void* out, size_t at) {
    switch (type) {
      case ValueType::kInt8:
        return Put<int8_t>(value, out, at);
      case ValueType::kInt16:
        return Put<int16_t>(value, out, at);
      case ValueType::kUint16:
        return Put<uint16_t>(value, out, at);
      case ValueType::kInt32:
        return Put<int32_t>(value, out, at);
      case ValueType::kDouble:
        static_cast<double*>(out)[at] = double(value);
        return true;
    }
    return false;
  }

  std::string OwnerName(int variable) const {
    return variable >= 0 && size_t(variable) < variables_.size() ? variables_[size_t(variable)].name
                                                                 : std::string();
  }

  std::vector<Variable> variables_;
  std::map<std::pair<std::string, std::string>, double> numbers_;
  std::map<std::pair<std::string, std::string>, std::string> texts_;
};

}  // namespace roamgrid::testing
