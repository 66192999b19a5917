-- mirtCVSave(index, value, mode): mode 0 writes entry index (0..359) of the
-- value table, any other mode reads it back as text. The table persists
-- across runs until "reset state".
pelx04.mirtCVSave(10, 123, 0)
print("entry 10 holds " .. pelx04.mirtCVSave(10, 0, 1))
print("entry 400 does not exist: " .. tostring(pelx04.mirtCVSave(400, 0, 1)))
