package at.Quarvel.util.jni;

/** Stand-in: a card type whose PIN is unblocked with a PUK. */
public class OCard extends SCard {
    public OCard() {}

    public native int unblockPIN(int pin, byte[] puk, byte[] newPin);
}
