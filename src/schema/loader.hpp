#pragma once
// Loading a schema: the main XSD file and every document reached through
// include and import, resolved into one immutable model.

#include <cstddef>
#include <string>
#include <string_view>

#include "tessaly/load.hpp"

#include "tessaly/error.hpp"
#include "schema/model.hpp"
#include "schema/parse_context.hpp"

namespace tessaly::schema {

// `path` names the main XSD file, relative to the current directory or absolute.
Result<SchemaModel> parse_xsd(std::string_view path, const LoadOptions& options = {});

// The main document's text in hand (`name` stands for it in the report);
// its relative locations resolve against options.base_dir, or the current
// directory when that is empty.
Result<SchemaModel> parse_xsd_text(std::string text, std::string_view name, const LoadOptions& options);

// The first step of parse_xsd alone: the main document at `path` and every
// document it reaches, read into a fresh context, nothing resolved yet.
Result<ParseContext> read_schema_documents(std::string_view path, const LoadOptions& options = {});

// Both with the documents of at least `read_ahead_bytes` bytes read on a
// second thread (ParseContext::read_ahead_bytes): for tests and benchmarks,
// which compare 0 (every document) with SIZE_MAX (none).
Result<ParseContext> read_schema_documents(std::string_view path, const LoadOptions& options,
                                           std::size_t read_ahead_bytes);
Result<SchemaModel> parse_xsd(std::string_view path, const LoadOptions& options, std::size_t read_ahead_bytes);

}  // namespace tessaly::schema
