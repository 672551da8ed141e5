package org.orbisgrove.feedback;

/**
 * A map position in degrees.
 *
 * @param latitude degrees north (negative: south)
 * @param longitude degrees east (negative: west)
 */
public record Coordinate(double latitude, double longitude) {}
