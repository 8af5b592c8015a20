// Uses a few exported families through the installed public header:
// names, matrices and the render settings. Prints "ok" and
// exits 0 when every answer is right.
#include <korvofur/korvofur.h>

#include <cstdio>

int main() {
    int failures = 0;
    auto expect = [&](bool ok, const char* what) {
        if (!ok) std::printf("consumer: %s\n", what), ++failures;
    };

    expect(names_init(64) == 1, "names_init");
    hair_name* fur = names_add("fur");
    expect(fur && names_find("fur") == fur, "an added name is found again");
    expect(names_find("mane") == nullptr, "an unknown name is not found");

    kivMatrix m;
    m.m[0] = 2.0f;  // diag(2, 1, 1, 1)
    expect(m.det4x4() == 2.0f, "determinant of a scaling matrix");

    expect(defs.image_cols > 0 && defs.image_lines > 0, "defs has its defaults");

    names_remove(fur);
    names_done();
    if (failures == 0) std::puts("ok");
    return failures == 0 ? 0 : 1;
}
