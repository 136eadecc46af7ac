#include "records/ConflictCopies.h"

#include <dirent.h>

#include <algorithm>
#include <regex>

#include "text/FileIo.h"

namespace qv::records {
namespace {

std::string_view BareName(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string Escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (std::string_view(R"(\^$.|?*+()[]{})").find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

std::string Expand(std::string_view pattern, std::string_view stem, std::string_view ext) {
    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        if (pattern.substr(i).starts_with("{stem}")) {
            out += Escaped(stem);
            i += 6;
        } else if (pattern.substr(i).starts_with("{ext}")) {
            out += Escaped(ext);
            i += 5;
        } else {
            out += pattern[i++];
        }
    }
    return out;
}

}  // namespace

const std::vector<ConflictPattern>& ConflictPatterns() {
    static const std::vector<ConflictPattern> patterns{
        // test.sync-conflict-20261210-154501-ABCDEF1.log
        {"Syncthing", R"({stem}\.sync-conflict-\d{8}-\d{6}-[A-Za-z0-9]+{ext})"},
        // test (Taro's conflicted copy 2026-12-10).log, and a number when there are more
        // on one day: (… 2026-12-10 (1)) or (… 2026-12-10) (1)
        {"Dropbox",
         "{stem} \\(.+(?:'|\xE2\x80\x99)s conflicted copy \\d{4}-\\d{2}-\\d{2}(?: \\(\\d+\\))?\\)"
         "(?: \\(\\d+\\))?{ext}"},
        // test (conflicted copy 2026-12-10 154501).log, test (conflicted copy taro
        // 2026-12-10 154501).log
        {"Nextcloud / ownCloud",
         R"({stem} \(conflicted copy (?:[^()]+ )?\d{4}-\d{2}-\d{2} \d{6}\){ext})"},
        // test_conflict-20261210-154501.log
        {"ownCloud (older)", R"({stem}_conflict-\d{8}-\d{6}{ext})"},
    };
    return patterns;
}

const ConflictPattern* ConflictCopyOf(std::string_view base, std::string_view name) {
    // Every tool's name holds this word: any other name is no copy, and the patterns need
    // not be compiled for the folder's every file at every start.
    if (name == base || name.find(kConflictWord) == std::string_view::npos) return nullptr;
    const size_t dot = base.rfind('.');
    const std::string_view stem = dot == std::string_view::npos ? base : base.substr(0, dot);
    const std::string_view ext = dot == std::string_view::npos ? "" : base.substr(dot);
    for (const ConflictPattern& p : ConflictPatterns()) {
        const std::regex re(Expand(p.pattern, stem, ext));
        if (std::regex_match(name.begin(), name.end(), re)) return &p;
    }
    return nullptr;
}

std::vector<ConflictCopy> FindConflictCopies(const DataFolder& folder) {
    std::vector<ConflictCopy> found;
    const std::string dir = folder.Dir().empty() ? std::string(".") : folder.Dir();
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str()); d != nullptr) {
        while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const std::string* file :
         {&folder.BookPath(), &folder.LogPath(), &folder.BalancePath(), &folder.LedgerPath(),
          &folder.TrashPath(), &folder.ReasonsPath(), &folder.MarksPath()}) {
        if (file->empty()) continue;
        const std::string_view base = BareName(*file);
        for (const std::string& name : names) {
            if (!name.starts_with(base.substr(0, base.rfind('.')))) continue;
            const ConflictPattern* p = ConflictCopyOf(base, name);
            if (p == nullptr) continue;
            const std::string path = folder.Dir().empty() || folder.Dir() == "."
                                         ? name
                                         : folder.Dir() + '/' + name;
            // Sync tools write their copies as files; a link under such a name may lead
            // anywhere outside the folder, so it is no copy.
            const qv::io::Target target = qv::io::Resolve(path);
            if (target.kind != qv::io::Target::Kind::Regular || target.viaLink) continue;
            found.push_back({path, name, *file, p->tool});
        }
    }
    return found;
}

}  // namespace qv::records
