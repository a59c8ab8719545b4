// Pictures compared with ImageMagick, for the tests of the icons.
#pragma once

#include <cstdlib>
#include <string>

#include "test_files.h"

namespace testing_pictures {

// convert FROM ARGS TO, in `dir`; true when it worked.
inline bool convert(const std::string& from, const std::string& args, const std::string& to,
                    const std::string& dir)
{
    using testing_files::quote;
    return testing_files::run("convert " + quote(from) + " " + args + " " + quote(to), dir)
               .status == 0;
}

// How far two pictures of the same size are apart: the root mean square
// error over all channels, 0 (the same) to 1; 1 also when they cannot be
// compared (sizes that differ, say).
inline double distance(const std::string& a, const std::string& b, const std::string& dir)
{
    using testing_files::quote;
    testing_files::RunResult r =
        testing_files::run("compare -metric RMSE " + quote(a) + " " + quote(b) + " null:", dir);
    // compare: 0 alike, 1 different, 2 an error.
    if (r.status != 0 && r.status != 1)
        return 1.0;
    size_t open = r.err.find('(');
    return open == std::string::npos ? 1.0 : std::atof(r.err.c_str() + open + 1);
}

}  // namespace testing_pictures
