"""Every message box of the Windows build under Wine, in both languages on
small and large screens: each text shows whole by the static control's own
drawing rule, each box lies on the screen with its controls inside it.

    python3 tests/wine/wine_box_gallery.py WINDOWS_BIN SHOTS_DIR"""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from box_gallery import BoxGallery, answer_every_box  # noqa: E402
from harness import Display  # noqa: E402
from wine_smoke import end_wine_session  # noqa: E402

BIN, SHOTS = sys.argv[1], sys.argv[2]


class WineBoxesFit(unittest.TestCase):
    def test_every_box_fits_its_words(self):
        for language in ("English", "Chinese"):
            for screen in ((800, 600), (1920, 1080)):
                with self.subTest(language=language, screen=screen):
                    end_wine_session()
                    # A window manager, as on every desktop: without one, Wine
                    # waits two seconds for each hidden window to be withdrawn.
                    display = Display(window_manager=True, size=f"{screen[0]}x{screen[1]}x24")
                    label = f"wine-gallery-{language}-{screen[0]}"
                    gallery = BoxGallery(os.path.join(BIN, "tarvex-box-gallery.exe"), display, language, SHOTS, label)
                    try:
                        print(f"{label}: {answer_every_box(self, gallery, label, screen)} boxes", flush=True)
                    finally:
                        gallery.finish()
                        end_wine_session()
                        display.close()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
