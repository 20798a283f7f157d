# The program's desktop id: the name of its desktop entry, icon and AppStream
# component, and the desktop file name the program gives the window system.
set(KV_APP_ID org.kvelmar.Kvelmar)
