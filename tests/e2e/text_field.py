"""Another program with the keyboard: a Tk window with one text field, as a
clerk's shipping or order program has. Every change of its text is written
to the file named first (whole, replaced at once), so a test reads exactly
what the field holds.

    python3 text_field.py TEXT_FILE [TITLE]"""

import os
import sys
import tkinter


def main():
    path = sys.argv[1]
    root = tkinter.Tk(className="TextField")
    root.title(sys.argv[2] if len(sys.argv) > 2 else "Text field")
    root.geometry("400x300+40+40")
    field = tkinter.Text(root, font=("DejaVu Sans Mono", 14))
    field.pack(fill="both", expand=True)

    def save(_event=None):
        field.edit_modified(False)
        with open(path + ".new", "w", encoding="utf-8") as f:
            f.write(field.get("1.0", "end-1c"))
        os.replace(path + ".new", path)

    field.bind("<<Modified>>", save)
    save()
    field.focus_set()
    root.mainloop()


main()
