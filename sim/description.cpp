// Reading the arm, drive and body-region files, and drawing the seeded model error.
#include "sim/description.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kxsim {

// The files under sim/data/, built into the program (generated source).
struct DataFile {
    const char *name;
    const char *text;
};
extern const DataFile kDataFiles[];
extern const std::size_t kDataFileCount;

namespace {

// Lines of a file without comments, with their line numbers; empty lines dropped.
struct Line {
    int number;
    std::vector<std::string> words;
};

std::vector<Line> lines_of(const std::string &text) {
    std::vector<Line> out;
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        const std::size_t hash = raw.find('#');
        std::istringstream words(hash == std::string::npos ? raw : raw.substr(0, hash));
        Line line{number, {}};
        std::string w;
        while (words >> w) {
            line.words.push_back(w);
        }
        if (!line.words.empty()) {
            out.push_back(line);
        }
    }
    return out;
}

bool to_number(const std::string &s, double &v) {
    char *end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return end != s.c_str() && *end == '\0' && std::isfinite(v);
}

std::string where(const Line &l) { return "line " + std::to_string(l.number) + ": "; }

// The n numbers after the key of a line.
template <std::size_t N>
bool numbers(const Line &l, std::array<double, N> &out, std::string &error) {
    if (l.words.size() != N + 1) {
        error = where(l) + l.words[0] + " needs " + std::to_string(N) + " values";
        return false;
    }
    for (std::size_t i = 0; i < N; ++i) {
        if (!to_number(l.words[i + 1], out[i])) {
            error = where(l) + "'" + l.words[i + 1] + "' is not a number";
            return false;
        }
    }
    return true;
}

bool parse_codes(const Line &l, std::vector<std::pair<uint32_t, uint32_t>> &codes,
                 std::string &error) {
    for (std::size_t i = 1; i < l.words.size(); ++i) {
        const std::string &w = l.words[i];
        const std::size_t dash = w.find('-');
        char *end = nullptr;
        const unsigned long lo = std::strtoul(w.c_str(), &end, 10);
        unsigned long hi = lo;
        bool ok = end != w.c_str() && (*end == '\0' || dash != std::string::npos);
        if (ok && dash != std::string::npos) {
            const char *rest = w.c_str() + dash + 1;
            hi = std::strtoul(rest, &end, 10);
            ok = end != rest && *end == '\0' && hi >= lo;
        }
        if (!ok || hi > 0xFFFFFFFFul) {
            error = where(l) + "bad model code range '" + w + "'";
            return false;
        }
        codes.emplace_back(static_cast<uint32_t>(lo), static_cast<uint32_t>(hi));
    }
    if (codes.empty()) {
        error = where(l) + "codes needs at least one code";
        return false;
    }
    return true;
}

// A tensor is a physical inertia when the second moments of the mass distribution,
// S = tr(I)/2 - I, form a positive semidefinite matrix (principal moments positive and meeting
// the triangle inequality): all principal minors of S are non-negative.
bool physical(const std::array<double, 6> &in) {
    const double ixx = in[0], ixy = in[1], ixz = in[2], iyy = in[3], iyz = in[4], izz = in[5];
    const double h = 0.5 * (ixx + iyy + izz);
    const double s[3][3] = {{h - ixx, -ixy, -ixz}, {-ixy, h - iyy, -iyz}, {-ixz, -iyz, h - izz}};
    const double tol = -1e-9 * std::max(1.0, h);
    const double m01 = s[0][0] * s[1][1] - s[0][1] * s[0][1];
    const double m02 = s[0][0] * s[2][2] - s[0][2] * s[0][2];
    const double m12 = s[1][1] * s[2][2] - s[1][2] * s[1][2];
    const double det = s[0][0] * m12 - s[0][1] * (s[0][1] * s[2][2] - s[1][2] * s[0][2]) +
                       s[0][2] * (s[0][1] * s[1][2] - s[1][1] * s[0][2]);
    return h > 0.0 && s[0][0] >= tol && s[1][1] >= tol && s[2][2] >= tol &&
           m01 >= tol * h && m02 >= tol * h && m12 >= tol * h && det >= tol * h * h;
}

// splitmix64: one independent uniform stream per (seed, stream).
class Uniform {
public:
 Uniform(uint64_t seed, uint64_t stream)
     : state_(seed * 0x9E3779B97F4A7C15ull ^ (stream + 1) * 0xD1B54A32D192ED03ull) {}
 double symmetric() {  // in [-1, 1)
     uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
     z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
     z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
     z ^= z >> 31;
     return static_cast<double>(z >> 11) * (2.0 / 9007199254740992.0) - 1.0;
    }

private:
    uint64_t state_;
};

// Mass, centre and second moments of one body moved by one draw of the error.
Inertial perturb(const Inertial &in, double scale, Uniform &u, bool second_moments) {
    Inertial out = in;
    out.mass = in.mass * std::max(0.1, 1.0 + scale * kMassError * u.symmetric());
    for (double &c : out.centre) {
        c += scale * kCentreError * u.symmetric();
    }
    if (!second_moments) {
        return out;
    }
    // S' = D S D with D = diag(sqrt(f)): each principal second moment (about the link axes)
    // scaled by f in [0.9, 1.1] at scale 1; then I' = tr(S') - S'.
    const std::array<double, 6> &i = in.inertia;
    const double h = 0.5 * (i[0] + i[3] + i[5]);
    double s[3][3] = {{h - i[0], -i[1], -i[2]}, {-i[1], h - i[3], -i[4]}, {-i[2], -i[4], h - i[5]}};
    double d[3];
    for (double &di : d) {
        di = std::sqrt(std::max(0.1, 1.0 + scale * kInertiaError * u.symmetric()));
    }
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            s[r][c] *= d[r] * d[c];
        }
    }
    const double tr = s[0][0] + s[1][1] + s[2][2];
    out.inertia = {tr - s[0][0], -s[0][1], -s[0][2], tr - s[1][1], -s[1][2], tr - s[2][2]};
    return out;
}

std::vector<ArmDescription> load_arms() {
    std::vector<ArmDescription> out;
    for (std::size_t i = 0; i < kDataFileCount; ++i) {
        const std::string name = kDataFiles[i].name;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".arm") != 0) {
            continue;
        }
        ArmDescription arm;
        std::string error;
        if (!parse_arm(kDataFiles[i].text, arm, error)) {
            // A broken built-in file is a build fault: fail loudly at first use.
            std::fprintf(stderr, "kxsim: %s: %s\n", name.c_str(), error.c_str());
            std::abort();
        }
        arm.file = name.substr(name.find_last_of('/') + 1);
        out.push_back(arm);
    }
    std::sort(out.begin(), out.end(),
              [](const ArmDescription &a, const ArmDescription &b) { return a.file < b.file; });
    return out;
}

const char *data_file(const char *suffix) {
    const std::string s = suffix;
    for (std::size_t i = 0; i < kDataFileCount; ++i) {
        const std::string name = kDataFiles[i].name;
        if (name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0) {
            return kDataFiles[i].text;
        }
    }
    return "";
}

std::vector<BodyRegion> &region_table() {
    static std::vector<BodyRegion> table;
    return table;
}

}  // namespace

double ArmDescription::dh_a(int i) const {
    return i == 1 || i == 2 ? lengths[static_cast<std::size_t>(i)] : 0.0;
}

double ArmDescription::dh_d(int i) const {
    return i == 1 || i == 2 ? 0.0 : lengths[static_cast<std::size_t>(i)];
}

bool ArmDescription::has_code(uint32_t code) const {
    return std::any_of(codes.begin(), codes.end(),
                       [code](const auto &r) { return code >= r.first && code <= r.second; });
}

double JointFriction::torque(double w) const {
    const double x = w / stribeck;
    const double level = coulomb + (stiction - coulomb) * std::exp(-x * x);
    return level * std::tanh(w / smoothing) + viscous * w;
}

bool parse_arm(const std::string &text, ArmDescription &arm, std::string &error) {
    arm = ArmDescription{};
    const char *const required[] = {"arm", "codes", "twists", "lengths", "motors", "rotor",
                                    "masses", "com1", "com2", "com3", "com4", "com5", "com6",
                                    "inertia1", "inertia2", "inertia3", "inertia4", "inertia5",
                                    "inertia6", "lower", "upper", "radius"};
    std::vector<std::string> seen;
    for (const Line &l : lines_of(text)) {
        const std::string &key = l.words[0];
        if (std::find(std::begin(required), std::end(required), key) == std::end(required)) {
            error = where(l) + "unknown key '" + key + "'";
            return false;
        }
        if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
            error = where(l) + "'" + key + "' given twice";
            return false;
        }
        seen.push_back(key);
        std::array<double, 6> v6{};
        std::array<double, 3> v3{};
        bool ok = true;
        if (key == "arm") {
            for (std::size_t i = 1; i < l.words.size(); ++i) {
                arm.name += (i > 1 ? " " : "") + l.words[i];
            }
        } else if (key == "codes") {
            ok = parse_codes(l, arm.codes, error);
        } else if (key.compare(0, 3, "com") == 0) {
            ok = numbers(l, v3, error);
            arm.link[static_cast<std::size_t>(key[3] - '1')].centre = v3;
        } else if (key.compare(0, 7, "inertia") == 0) {
            ok = numbers(l, v6, error);
            arm.link[static_cast<std::size_t>(key[7] - '1')].inertia = v6;
            if (ok && !physical(v6)) {
                error = where(l) + key + " is not a physical inertia tensor";
                ok = false;
            }
        } else {
            ok = numbers(l, v6, error);
            if (key == "twists") arm.twist = v6;
            if (key == "lengths") arm.lengths = v6;
            if (key == "rotor") arm.rotor = v6;
            if (key == "lower") arm.lower = v6;
            if (key == "upper") arm.upper = v6;
            if (key == "radius") arm.radius = v6;
            for (std::size_t j = 0; j < 6 && ok; ++j) {
                if (key == "masses") arm.link[j].mass = v6[j];
                if (key == "motors") arm.motor[j] = static_cast<uint8_t>(v6[j]);
                const bool positive = key == "masses" || key == "radius" || key == "motors";
                if ((positive && !(v6[j] > 0.0)) || (key == "rotor" && v6[j] < 0.0)) {
                    error = where(l) + key + " must be positive";
                    ok = false;
                }
            }
        }
        if (!ok) {
            return false;
        }
    }
    for (const char *key : required) {
        if (std::find(seen.begin(), seen.end(), key) == seen.end()) {
            error = std::string("missing '") + key + "'";
            return false;
        }
    }
    for (std::size_t j = 0; j < 6; ++j) {
        if (!(arm.lower[j] < arm.upper[j])) {
            error = "joint " + std::to_string(j + 1) + ": lower limit not below upper";
            return false;
        }
    }
    return true;
}

bool parse_drives(const std::string &text, std::vector<Drive> &drives, std::string &error) {
    drives.clear();
    for (const Line &l : lines_of(text)) {
        std::array<double, 9> v{};
        Line shifted = l;
        shifted.words.insert(shifted.words.begin(), "drive");
        if (!numbers(shifted, v, error)) {
            return false;
        }
        Drive d;
        d.size = static_cast<uint8_t>(v[0]);
        d.rated = v[1];
        d.gear = v[2];
        d.stiffness = v[3];
        d.friction = {v[4], v[5], v[6], v[7], v[8]};
        if (!(d.rated > 0 && d.gear > 0 && d.stiffness > 0 && d.friction.stribeck > 0 &&
              d.friction.smoothing > 0)) {
            error = where(l) + "rated torque, gear, stiffness and speeds must be positive";
            return false;
        }
        drives.push_back(d);
    }
    return true;
}

bool parse_body_regions(const std::string &text, std::vector<BodyRegion> &regions,
                        std::string &error) {
    std::vector<BodyRegion> out;
    for (const Line &l : lines_of(text)) {
        if (l.words.size() != 3 && l.words.size() != 4) {
            error = where(l) + "expected: region stiffness quasi-static [transient]";
            return false;
        }
        BodyRegion r;
        r.name = l.words[0];
        double transient = 0.0;
        const bool ok = to_number(l.words[1], r.stiffness) &&
                        to_number(l.words[2], r.quasi_static) &&
                        (l.words.size() == 3 || to_number(l.words[3], transient));
        if (!ok || !(r.stiffness > 0.0) || !(r.quasi_static > 0.0) || transient < 0.0) {
            error = where(l) + "stiffness and forces must be positive numbers";
            return false;
        }
        r.transient = l.words.size() == 4 ? transient : 2.0 * r.quasi_static;
        if (std::any_of(out.begin(), out.end(),
                        [&](const BodyRegion &o) { return o.name == r.name; })) {
            error = where(l) + "region '" + r.name + "' given twice";
            return false;
        }
        out.push_back(r);
    }
    if (out.empty()) {
        error = "no body region";
        return false;
    }
    regions = out;
    return true;
}

const std::vector<ArmDescription> &arms() {
    static const std::vector<ArmDescription> all = load_arms();
    return all;
}

const ArmDescription *find_arm(uint32_t model_code) {
    for (const ArmDescription &a : arms()) {
        if (a.has_code(model_code)) {
            return &a;
        }
    }
    return nullptr;
}

const std::vector<Drive> &drives() {
    static const std::vector<Drive> all = [] {
        std::vector<Drive> d;
        std::string error;
        if (!parse_drives(data_file("drives.txt"), d, error)) {
            std::fprintf(stderr, "kxsim: drives.txt: %s\n", error.c_str());
            std::abort();
        }
        return d;
    }();
    return all;
}

const Drive *find_drive(uint8_t size) {
    for (const Drive &d : drives()) {
        if (d.size == size) {
            return &d;
        }
    }
    return nullptr;
}

void reset_body_regions() {
    std::string error;
    if (!parse_body_regions(data_file("body_regions.txt"), region_table(), error)) {
        std::fprintf(stderr, "kxsim: body_regions.txt: %s\n", error.c_str());
        std::abort();
    }
}

const std::vector<BodyRegion> &body_regions() {
    if (region_table().empty()) {
        reset_body_regions();
    }
    return region_table();
}

const BodyRegion *find_body_region(const std::string &name) {
    for (const BodyRegion &r : body_regions()) {
        if (r.name == name) {
            return &r;
        }
    }
    return nullptr;
}

bool load_body_regions(const std::string &path, std::string &error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::vector<BodyRegion> table;
    if (!parse_body_regions(text.str(), table, error)) {
        error = path + ": " + error;
        return false;
    }
    region_table() = table;
    return true;
}

ArmDescription perturbed(const ArmDescription &nominal, const ModelError &error) {
    ArmDescription truth = nominal;
    if (error.scale == 0.0) {
        return truth;
    }
    Uniform u(error.seed, 0);
    for (Inertial &link : truth.link) {
        link = perturb(link, error.scale, u, true);
    }
    return truth;
}

Inertial perturbed(const Inertial &declared, const ModelError &error, uint64_t stream) {
    if (error.scale == 0.0) {
        return declared;
    }
    Uniform u(error.seed, stream + 1);
    return perturb(declared, error.scale, u, false);
}

}  // namespace kxsim
