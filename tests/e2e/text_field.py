"""Another program with the keyboard: a Tk window with one text field, as a
clerk's shipping or order program has. Every change of its text is written
to the file named first (whole, replaced at once), so a test reads exactly
what the field holds. With --times, each line that is ended (Enter or
Tab) also appends "N MONOTONIC_SECONDS" to that file, for the bench.

    python3 text_field.py TEXT_FILE [--times TIMES_FILE]"""

import os
import sys
import time
import tkinter


def main():
    path = sys.argv[1]
    times = open(sys.argv[3], "a", encoding="ascii") if sys.argv[2:3] == ["--times"] else None
    ended = [0]
    root = tkinter.Tk(className="TextField")
    root.title("Text field")
    root.geometry("400x300+40+40")
    field = tkinter.Text(root, font=("DejaVu Sans Mono", 14))
    field.pack(fill="both", expand=True)

    def save(_event=None):
        now = time.monotonic()
        field.edit_modified(False)
        text = field.get("1.0", "end-1c")
        with open(path + ".new", "w", encoding="utf-8") as f:
            f.write(text)
        os.replace(path + ".new", path)
        if times:
            count = text.count("\n") + text.count("\t")
            for n in range(ended[0] + 1, count + 1):
                times.write(f"{n} {now:.6f}\n")
            times.flush()
            ended[0] = count

    field.bind("<<Modified>>", save)
    save()
    field.focus_set()
    root.mainloop()


main()
