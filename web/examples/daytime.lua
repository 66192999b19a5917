-- daytime(): the local date and time as text. It touches no pixels.
print(pelx04.daytime())
