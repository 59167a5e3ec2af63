// The project file of `genpatch build` (TOML): the header texts and flags, the six options texts
// and the releases in order, each with its additional groups. Folders are relative to the
// project file. Texts are UTF-8 in the file and code page 932 in the package.
//
//   caption = "..."            comment = "..."          default_folder = 'C:\App'
//   file_removal = true        backup = false           folder_choice = true
//   version_check = true       restart = false
//   [texts]  project_comment, failure, completion, missing_file, up_to_date, caption
//   [[generation]]  name, comment, folder
//   [[generation.group]]  name, comment, default_folder, source
#pragma once

#include <filesystem>
#include <string_view>

#include "builder/generator.h"

namespace gp::builder {

// Reads a project file. Throws BuildError naming the file, the line or the key at fault.
GeneratorInput ReadProjectFile(const std::filesystem::path& file);

// Parses project text; relative folders are taken from base. source names the text in messages.
GeneratorInput ParseProject(std::string_view text, const std::filesystem::path& base,
                            const std::string& source);

}  // namespace gp::builder
