// placeholder: written in its own change
